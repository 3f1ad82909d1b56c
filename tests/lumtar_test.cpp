// The built tool as a user runs it, on every system: exit status, the
// exact bytes on stdout and stderr, and the files it leaves.
#include "lumtar_test.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace lumtar_test {

namespace fs = std::filesystem;

const std::string kUsageLine = "Usage: lumtar [-t] [-l <len>] <keycode> <filenames>\n";

ProcessResult lumtar(std::vector<std::string> args, const ProcessOptions &options)
{
    args.insert(args.begin(), LUMTAR_BINARY);
    return testing_support::run_process(args, options);
}

testing::AssertionResult same_bytes(const std::string &got, const std::string &want)
{
    if (got.size() != want.size())
        return testing::AssertionFailure() << "size " << got.size() << ", expected " << want.size();
    auto diff = std::mismatch(got.begin(), got.end(), want.begin());
    if (diff.first != got.end())
        return testing::AssertionFailure() << "first difference at byte " << (diff.first - got.begin());
    return testing::AssertionSuccess();
}

void expect_refused_as_not_regular(const std::vector<std::string> &names, const TempDir &dir)
{
    std::string f = dir.file("regular");
    write_file(f, "regular\n");
    std::vector<std::string> args = {"key"};
    std::string expected_err;
    for (const auto &name : names) {
        args.push_back(name);
        expected_err += "\"" + name + "\": not a regular file.\n";
    }
    args.push_back(f);
    ProcessResult r = lumtar(args);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, text_output(expected_err));
    EXPECT_EQ(read_file(f), model_convert("key", "regular\n")) << "the run goes on after them";
}

std::optional<std::uint64_t> interruption_count(const std::string &err, const std::string &path)
{
    const std::string lead = "\"" + path + "\": interrupted; the first ";
    if (err.compare(0, lead.size(), lead) != 0)
        return std::nullopt;
    std::string count = err.substr(lead.size(), err.find(' ', lead.size()) - lead.size());
    if (err != text_output(lead + count + " bytes are converted (-l " + count + " converts them back).\n"))
        return std::nullopt;
    return std::stoull(count);
}

namespace {

// Memory-backed where the system has such a place with room to spare.
std::string big_file_dir(const TempDir &fallback, std::uint64_t size)
{
    std::error_code error;
    fs::space_info shm = fs::space("/dev/shm", error);
    return !error && shm.available > 2 * size ? "/dev/shm" : fallback.path();
}

}  // namespace

BigFile::BigFile(const TempDir &fallback, std::uint64_t size)
    : path_(big_file_dir(fallback, size) + "/lumtar-big-" + std::to_string(std::random_device()()))
{
    write_file(path_, "");
    fs::resize_file(path_, size);
}

BigFile::~BigFile()
{
    std::error_code ignored;
    fs::remove(path_, ignored);
}

void BigFile::write_at(std::uint64_t offset, const std::string &bytes)
{
    std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.flush()) << path_;
}

std::string BigFile::read_at(std::uint64_t offset, std::size_t n) const
{
    std::ifstream file(path_, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(n, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(n));
    EXPECT_EQ(file.gcount(), static_cast<std::streamsize>(n)) << path_;
    return bytes;
}

namespace {

// ---- Help and the command line ---------------------------------------------

// Redirected, and in the C locale where there is a locale, the help is the
// stored bytes.
TEST(HelpTest, RedirectedHelpIsTheStoredShiftJisBytes)
{
    ProcessOptions c_locale;
    c_locale.env = {"LC_ALL=C"};
    ProcessResult r = lumtar({"-usage"}, c_locale);
    const std::string expected =
        "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x88\xc3\x8d\x86\x89\xbb\x82\xdc\x82\xbd\x82\xcd"
        "\x95\x9c\x8d\x86\x89\xbb\x82\xb5\x82\xdc\x82\xb7\x81\x42\n"
        " \n"
        "Usage: lumtar [-t] [-l <len>] <keycode> <filenames>\n"
        " \n"
        "Parameter:\n"
        "   -t          \x83\x65\x83\x4c\x83\x58\x83\x67\x83\x82\x81\x5b\x83\x68\n"
        " \n"
        "   -l <len>    \x95\xcf\x8a\xb7\x8d\xc5\x91\xe5\x92\xb7\n"
        " \n"
        "   <keycode>   \x95\xcf\x8a\xb7\x83\x4c\x81\x5b\x81\x69\x88\xc3\x8d\x86\x89\xbb\x83\x4c\x81\x5b\x81\x6a\n"
        " \n"
        "   <filenames> \x95\xcf\x8a\xb7\x91\xce\x8f\xdb\x83\x74\x83\x40\x83\x43\x83\x8b(\x95\xa1\x90\x94\x8e\x77\x92\xe8\x89\xc2)\n"
        " \n"
        "Version: 1.10\n";
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, text_output(expected));
    EXPECT_EQ(r.err, "");
}

TEST(CommandLineTest, UsageErrors)
{
    TempDir dir;
    std::string file = dir.file("f");
    write_file(file, "content");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"key"},
        {"-t", "key"},              // the key, and no file
        {"-t", "-t", file},         // the file name becomes the key
        {"-l", "0", "key", file},
        {"-l", "-5", "key", file},
        {"-l", "abc", "key", file},
        {"-l", "5"},
        {"-l", "5", "key"},
        {"-t", "-l", "7", "key"},
        {"-t", "-l"},               // an option as the last argument
    };
    for (const auto &args : cases) {
        ProcessResult r = lumtar(args);
        EXPECT_EQ(r.exit_status, 1) << testing::PrintToString(args);
        EXPECT_EQ(r.err, text_output(kUsageLine)) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << testing::PrintToString(args);
    }
    EXPECT_EQ(read_file(file), "content");
}

TEST(CommandLineTest, ArgumentsAfterTheOptionsAreTheKeyAndFiles)
{
    TempDir dir;
    std::string data = random_bytes(5000, 1);
    struct Case {
        std::vector<std::string> args;
        std::string key;
        std::int64_t limit;
    };
    const Case cases[] = {
        {{"-usage"}, "-usage", -1},         // not alone: it is the key
        {{"-x"}, "-x", -1},                 // a key may begin with '-'
        {{"-l", "12abc", "k"}, "k", 12},    // digits up to the first non-digit
        {{"-l", " +3000", "k"}, "k", 3000}, // white space and a sign
        {{"-l", "99999999999999999999999", "k"}, "k", -1},  // saturates: the whole file
        {{"-l", "10", "-l", "20", "k"}, "k", 20},           // the later limit holds
        {{"-t", "-l", "100", "k", "-t"}, "k", -1},          // checked separately below
    };
    for (const auto &c : cases) {
        if (c.args.back() == "-t")
            continue;
        std::string file = dir.file("f");
        write_file(file, data);
        std::vector<std::string> args = c.args;
        args.push_back(file);
        ProcessResult r = lumtar(args);
        EXPECT_EQ(r.exit_status, 0) << testing::PrintToString(args) << r.err;
        EXPECT_TRUE(same_bytes(read_file(file), model_convert(c.key, data, c.limit))) << testing::PrintToString(args);
    }
}

// ---- Converting files ------------------------------------------------------

TEST(ConvertTest, SizesAroundBlockAndChunkBoundariesMatchTheModel)
{
    TempDir dir;
    const std::size_t kChunk = 1 << 20;
    const std::size_t sizes[] = {0, 1, 2047, 2048, 2049, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 2049};
    unsigned seed = 0;
    for (std::size_t size : sizes) {
        std::string data = random_bytes(size, ++seed);
        const std::int64_t limits[] = {-1, 1, 2049, static_cast<std::int64_t>(kChunk) + 5,
                                       static_cast<std::int64_t>(size) + 1};
        for (std::int64_t limit : limits) {
            std::string file = dir.file("f");
            write_file(file, data);
            std::vector<std::string> args = {"sk3y"};
            if (limit != -1)
                args = {"-l", std::to_string(limit), "sk3y"};
            args.push_back(file);
            ProcessResult r = lumtar(args);
            ASSERT_EQ(r.exit_status, 0) << r.err;
            ASSERT_TRUE(same_bytes(read_file(file), model_convert("sk3y", data, limit)))
                << "size " << size << ", limit " << limit;
            lumtar(args);
            ASSERT_TRUE(same_bytes(read_file(file), data)) << "twice: size " << size << ", limit " << limit;
        }
    }
}

TEST(ConvertTest, LimitOf5000ConvertsExactlyThe5000FirstBytes)
{
    TempDir dir;
    std::string file = dir.file("f");
    std::string data = random_bytes(10000, 5);
    write_file(file, data);
    ASSERT_EQ(lumtar({"-l", "5000", "key", file}).exit_status, 0);
    std::string out = read_file(file);
    EXPECT_TRUE(same_bytes(out, model_convert("key", data, 5000)));
    EXPECT_TRUE(same_bytes(out.substr(5000), data.substr(5000)));
    EXPECT_NE(out.substr(4096, 904), data.substr(4096, 904));
}

TEST(ConvertTest, MissingFileIsReportedAndTheRunGoesOn)
{
    TempDir dir;
    std::string a = dir.file("a"), b = dir.file("b"), missing = dir.file("missing");
    write_file(a, "first file\n");
    write_file(b, "second file\n");
    ProcessResult r = lumtar({"key", a, missing, b});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, text_output("\"" + missing + "\": can't change file mode to write.\n"));
    EXPECT_EQ(read_file(a), model_convert("key", "first file\n"));
    EXPECT_EQ(read_file(b), model_convert("key", "second file\n"));
}

TEST(ConvertTest, FileNamedTwiceEndsAsItBegan)
{
    TempDir dir;
    std::string f = dir.file("f");
    std::string data = random_bytes(7000, 9);
    write_file(f, data);
    EXPECT_EQ(lumtar({"key", f, f}).exit_status, 0);
    EXPECT_TRUE(same_bytes(read_file(f), data));
}

// ---- Text mode -------------------------------------------------------------

TEST(TextModeTest, EnciphersTextAndDeciphersItBack)
{
    TempDir dir;
    std::string f = dir.file("f");
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "line " + std::to_string(i) + "\tof text\r\n";
    write_file(f, text);
    ProcessResult r = lumtar({"-t", "secret", f});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(same_bytes(read_file(f), model_convert("secret", text)));
    r = lumtar({"-t", "secret", f});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(same_bytes(read_file(f), text));
}

TEST(TextModeTest, MismatchStopsTheRunWithTheFilesBeforeConverted)
{
    TempDir dir;
    std::string before = dir.file("before"), binary = dir.file("binary"), after = dir.file("after");
    write_file(before, "plain text\n");
    // Random bytes are binary, and stay binary under any keystream.
    std::string data = random_bytes(4096, 17);
    ASSERT_NE(model_convert("key", data).substr(0, 2048).find_first_of(std::string("\0\x01\x02\x1f", 4)),
              std::string::npos);
    write_file(binary, data);
    write_file(after, "also text\n");
    ProcessResult r = lumtar({"-t", "key", before, binary, after});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, text_output("\"" + binary + "\": not a text file or mistaken keycode.\n"));
    EXPECT_EQ(r.out, text_output("exit!\n"));
    EXPECT_EQ(read_file(before), model_convert("key", "plain text\n"));
    EXPECT_TRUE(same_bytes(read_file(binary), data));
    EXPECT_EQ(read_file(after), "also text\n");
}

TEST(TextModeTest, EmptyFileIsAMismatch)
{
    TempDir dir;
    std::string f = dir.file("empty");
    write_file(f, "");
    ProcessResult r = lumtar({"-t", "key", f});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, text_output("\"" + f + "\": not a text file or mistaken keycode.\n"));
    EXPECT_EQ(r.out, text_output("exit!\n"));
}

// ---- Large files -----------------------------------------------------------

TEST(LargeFileTest, FilePast4GiBConvertsAndRestores)
{
    const std::uint64_t k4G = std::uint64_t{1} << 32, k2G = std::uint64_t{1} << 31;
    const std::uint64_t size = k4G + 10000;
    TempDir dir;
    BigFile file(dir, size);
    const std::string marker = random_bytes(200, 3);
    const std::uint64_t marks[] = {0, k2G - 100, k4G - 100, size - 200};
    for (std::uint64_t at : marks)
        file.write_at(at, marker);

    ProcessResult r = lumtar({"big key", file.path()});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    // The keystream has period 2^32: past 4 GiB it repeats the start.
    std::string tail_plain = marker.substr(100) + std::string(size - k4G - 100, '\0');
    tail_plain.replace(tail_plain.size() - 200, 200, marker);
    EXPECT_TRUE(same_bytes(file.read_at(k4G, size - k4G), model_convert("big key", tail_plain)));
    std::string head_plain = marker + std::string(10000 - 200, '\0');
    EXPECT_TRUE(same_bytes(file.read_at(0, 10000), model_convert("big key", head_plain)));
    EXPECT_NE(file.read_at(k2G - 100, 200), marker);

    r = lumtar({"big key", file.path()});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    for (std::uint64_t at : marks)
        EXPECT_EQ(file.read_at(at, 200), marker) << at;
    EXPECT_EQ(file.read_at(k2G + 100, 4096), std::string(4096, '\0'));
    EXPECT_EQ(std::filesystem::file_size(file.path()), size);
}

}  // namespace
}  // namespace lumtar_test
