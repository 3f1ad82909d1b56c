// The built tool as a user runs it, on every system: exit status, the
// exact bytes on stdout and stderr, and the files it leaves.
#include "lumtar_test.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace lumtar_test {

namespace fs = std::filesystem;

const std::string kUsageLine = "Usage: lumtar [-t] [-l <len>] <keycode> <filenames>\n";
const std::string kBinary = random_bytes(5000, 31);

ProcessResult lumtar(std::vector<std::string> args, const ProcessOptions &options)
{
    args.insert(args.begin(), LUMTAR_BINARY);
    return run_process(args, options);
}

std::string interruption_message(const std::string &path, std::uint64_t n, bool recorded)
{
    const std::string count = std::to_string(n);
    return "\"" + path + "\": interrupted; the first " + count + " bytes are converted (" +
           (recorded ? "the same command finishes the file; " : "") + "-l " + count + " converts them back).\n";
}

std::uint64_t interruption_count(const std::string &err, const std::string &path)
{
    const std::string lead = "\"" + path + "\": interrupted; the first ";
    return err.compare(0, lead.size(), lead) == 0 ? std::stoull(err.substr(lead.size())) : 0;
}

testing::AssertionResult same_bytes(const std::string &got, const std::string &want)
{
    auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    if (diff.first == got.end() && diff.second == want.end())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                       << ", first difference at byte " << (diff.first - got.begin());
}

static std::string place_for(std::uint64_t size)
{
    std::error_code error;
    return fs::space("/dev/shm", error).available > 2 * size && !error ? "/dev/shm" : "";
}

BigFile::BigFile(std::uint64_t size) : dir(place_for(size)), path(dir.file("big"))
{
    if (fs::space(dir.path()).available < size) {
        no_room = "no room for a file of " + std::to_string(size) + " bytes in " + dir.path();
        return;
    }
    write_file(path, "");
    fs::resize_file(path, size);
}

void BigFile::write_at(std::uint64_t offset, const std::string &bytes)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    ASSERT_TRUE(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) << path;
}

std::string BigFile::read_at(std::uint64_t offset, std::size_t n) const
{
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(n, '\0');
    EXPECT_TRUE(file.read(bytes.data(), static_cast<std::streamsize>(n))) << path;
    return bytes;
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

namespace {

std::string in_dir(std::string text, const TempDir &dir)
{
    for (auto at = text.find("$/"); at != std::string::npos; at = text.find("$/", at + dir.path().size()))
        text.replace(at, 1, dir.path());
    return text;
}

TEST_P(ScenarioTest, LeavesTheExactOutputAndFiles)
{
    const Scenario &s = GetParam();
    TempDir dir;
    ProcessOptions options{s.env, 0, false, s.in_child};
    for (const File &f : s.files) {
        fs::create_directories(fs::path(dir.file(f.name)).parent_path());
        write_file(dir.file(f.name), f.content);
    }
    prepare_system(s, dir, options);
    if (s.setup)
        s.setup(dir.path());
    if (IsSkipped())
        return;
    std::vector<std::string> args;
    for (const auto &arg : s.args)
        args.push_back(in_dir(arg, dir));
    ProcessResult r = lumtar(args, options);
    check_system(s, dir);
    EXPECT_EQ(r.exit_status, s.status);
    EXPECT_EQ(r.out, text_output(in_dir(s.out, dir)));
    EXPECT_EQ(r.err, text_output(in_dir(s.err, dir)));
    for (const File &f : s.files) {
        std::string want = f.key ? model_convert(*f.key, model_convert(*f.key, f.content, f.limit), f.from)
                                 : f.content;
        EXPECT_TRUE(same_bytes(read_file(dir.file(f.name)), want)) << f.name;
    }
}

const std::string kData = random_bytes(5000, 1);
const std::string kKeyToQuote = "say \"hi\" %PATH% back\\slash\tend\\";

File converted(const std::string &key, std::int64_t limit = -1) { return {"f", kData, 0644, key, limit}; }

Scenario usage_error(std::vector<std::string> args)
{
    return {"usage error: " + testing::PrintToString(args), {{"f", kData}}, args, 1, "", kUsageLine};
}

std::string text_lines()
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "line " + std::to_string(i) + "\tof text\r\n";
    return text;
}

// Redirected, and in the C locale where there is a locale, the help is the
// stored bytes.
const std::string kStoredHelp =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x88\xc3\x8d\x86\x89\xbb\x82\xdc\x82\xbd\x82\xcd"
    "\x95\x9c\x8d\x86\x89\xbb\x82\xb5\x82\xdc\x82\xb7\x81\x42\n \n" + kUsageLine + " \nParameter:\n"
    "   -t          \x83\x65\x83\x4c\x83\x58\x83\x67\x83\x82\x81\x5b\x83\x68\n \n"
    "   -l <len>    \x95\xcf\x8a\xb7\x8d\xc5\x91\xe5\x92\xb7\n \n"
    "   <keycode>   \x95\xcf\x8a\xb7\x83\x4c\x81\x5b\x81\x69\x88\xc3\x8d\x86\x89\xbb\x83\x4c\x81\x5b\x81\x6a\n \n"
    "   <filenames> \x95\xcf\x8a\xb7\x91\xce\x8f\xdb\x83\x74\x83\x40\x83\x43\x83\x8b(\x95\xa1\x90\x94\x8e\x77\x92\xe8\x89\xc2)\n"
    " \nVersion: 1.10\n";

INSTANTIATE_TEST_SUITE_P(EverySystem, ScenarioTest, testing::ValuesIn(std::vector<Scenario>{
    {"help", {}, {"-usage"}, 0, kStoredHelp, "", false, {}, {}, {"LC_ALL=C"}},
    usage_error({}),
    usage_error({"key"}),
    usage_error({"-t", "key"}),
    usage_error({"-t", "-t", "$/f"}),  // the file name becomes the key
    usage_error({"-l", "0", "key", "$/f"}),
    usage_error({"-l", "-5", "key", "$/f"}),
    usage_error({"-l", "abc", "key", "$/f"}),
    usage_error({"-l", "5"}),
    usage_error({"-l", "5", "key"}),
    usage_error({"-t", "-l", "7", "key"}),
    usage_error({"-t", "-l"}),  // an option as the last argument
    {"-usage with a file is the key", {converted("-usage")}, {"-usage", "$/f"}},
    {"a key may begin with -", {converted("-x")}, {"-x", "$/f"}},
    {"a key that a command line quotes", {converted(kKeyToQuote)}, {kKeyToQuote, "$/f"}},
    {"an empty key", {converted("")}, {"", "$/f"}},
    {"-l reads digits to the first other", {converted("k", 12)}, {"-l", "12abc", "k", "$/f"}},
    {"-l skips blanks and a sign", {converted("k", 3000)}, {"-l", " +3000", "k", "$/f"}},
    {"-l saturates", {converted("k")}, {"-l", "99999999999999999999999", "k", "$/f"}},
    {"the later -l holds", {converted("k", 20)}, {"-l", "10", "-l", "20", "k", "$/f"}},
    // A file named twice is converted once.
    {"a missing file or one named twice is reported and the run goes on",
     {{"a", "first\n", 0644, "key"}, {"b", "second\n", 0644, "key"}}, {"key", "$/a", "$/missing", "$/a", "$/b"}, 2,
     "", "\"$/missing\": can't change file mode to write.\n\"$/a\": same file as \"$/a\"; skipped.\n"},
    {"text mode, and back",
     {{"f", text_lines(), 0644, "secret"}, {"g", model_convert("secret", text_lines()), 0644, "secret"}},
     {"-t", "secret", "$/f", "$/g"}},
    {"a text mismatch stops the run",
     {{"before", "plain text\n", 0644, "key"}, {"binary", kBinary}, {"after", "also text\n"}},
     {"-t", "key", "$/before", "$/binary", "$/after"}, 1, "exit!\n",
     "\"$/binary\": not a text file or mistaken keycode.\n"},
    // A limit shorter than the first block still has the whole block looked
    // at: bytes past it that are not text keep it from ever being text.
    {"text mode looks past a short limit", {{"f", "hello\1 binary past the limit\n"}}, {"-t", "-l", "5", "key", "$/f"},
     1, "exit!\n", "\"$/f\": not a text file or mistaken keycode.\n"},
    {"an empty file is a text mismatch", {{"e", ""}}, {"-t", "key", "$/e"}, 1, "exit!\n",
     "\"$/e\": not a text file or mistaken keycode.\n"},
}));

// Sizes and limits around the block and chunk boundaries, against the
// model, and back again.
TEST(ConvertTest, SizesAndLimitsAroundBoundariesMatchTheModel)
{
    TempDir dir;
    const std::int64_t kChunk = 1 << 20;
    const std::int64_t sizes[] = {0, 1, 2047, 2048, 2049, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 2049};
    for (std::int64_t size : sizes) {
        std::string data = random_bytes(static_cast<std::size_t>(size), static_cast<unsigned>(size));
        for (std::int64_t limit : {std::int64_t{-1}, std::int64_t{1}, std::int64_t{2049}, kChunk + 5, size + 1}) {
            std::vector<std::string> args = {"-l", std::to_string(limit), "sk3y", dir.file("f")};
            args.erase(args.begin(), args.begin() + (limit == -1 ? 2 : 0));
            write_file(dir.file("f"), data);
            ASSERT_EQ(lumtar(args).exit_status, 0);
            std::string want = model_convert("sk3y", data, limit);
            ASSERT_TRUE(same_bytes(read_file(dir.file("f")), want)) << size << " " << limit;
            lumtar(args);
            ASSERT_TRUE(same_bytes(read_file(dir.file("f")), data)) << "twice: " << size << " " << limit;
        }
    }
}

TEST(LargeFileTest, FilePast4GiBConvertsAndRestores)
{
    const std::uint64_t k4G = std::uint64_t{1} << 32, k2G = k4G / 2, size = k4G + 10000;
    BigFile file(size);
    if (!file.no_room.empty())
        GTEST_SKIP() << file.no_room;
    const std::string marker = random_bytes(200, 3);
    const std::uint64_t marks[] = {0, k2G - 100, k4G - 100, size - 200};
    for (std::uint64_t at : marks)
        file.write_at(at, marker);

    ASSERT_EQ(lumtar({"big key", file.path}).exit_status, 0);
    // The keystream has period 2^32: past 4 GiB it repeats the start.
    std::string tail_plain = marker.substr(100) + std::string(size - k4G - 300, '\0') + marker;
    EXPECT_TRUE(same_bytes(file.read_at(k4G, size - k4G), model_convert("big key", tail_plain)));
    std::string head_plain = marker + std::string(10000 - 200, '\0');
    EXPECT_TRUE(same_bytes(file.read_at(0, 10000), model_convert("big key", head_plain)));
    EXPECT_NE(file.read_at(k2G - 100, 200), marker);

    ASSERT_EQ(lumtar({"big key", file.path}).exit_status, 0);
    for (std::uint64_t at : marks)
        EXPECT_EQ(file.read_at(at, 200), marker) << at;
    EXPECT_EQ(file.read_at(k2G + 100, 4096), std::string(4096, '\0'));
    EXPECT_EQ(fs::file_size(file.path), size);
}

}  // namespace
}  // namespace lumtar_test
