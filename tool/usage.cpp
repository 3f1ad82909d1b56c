#include "usage.h"

#include <iconv.h>
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <string>

namespace lumtar {

const char *const usage[] = {
    // "ファイルを暗号化または復号化します。"
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x88\xc3\x8d\x86\x89\xbb\x82\xdc\x82\xbd\x82\xcd"
    "\x95\x9c\x8d\x86\x89\xbb\x82\xb5\x82\xdc\x82\xb7\x81\x42",
    " ",
    "Usage: lumtar [-t] [-l <len>] <keycode> <filenames>",
    " ",
    "Parameter:",
    // "   -t          テキストモード"
    "   -t          \x83\x65\x83\x4c\x83\x58\x83\x67\x83\x82\x81\x5b\x83\x68",
    " ",
    // "   -l <len>    変換最大長"
    "   -l <len>    \x95\xcf\x8a\xb7\x8d\xc5\x91\xe5\x92\xb7",
    " ",
    // "   <keycode>   変換キー（暗号化キー）"
    "   <keycode>   \x95\xcf\x8a\xb7\x83\x4c\x81\x5b\x81\x69\x88\xc3\x8d\x86\x89\xbb\x83\x4c\x81\x5b\x81\x6a",
    " ",
    // "   <filenames> 変換対象ファイル(複数指定可)"
    "   <filenames> \x95\xcf\x8a\xb7\x91\xce\x8f\xdb\x83\x74\x83\x40\x83\x43\x83\x8b"
    "(\x95\xa1\x90\x94\x8e\x77\x92\xe8\x89\xc2)",
    " ",
    "Version: 1.10",
    nullptr,
};

namespace {

std::string stored_help()
{
    std::string text;
    for (const char *const *line = usage; *line != nullptr; ++line)
        text.append(*line).append("\n");
    return text;
}

bool is_stored_charset(const char *charset)
{
    for (const char *name : {"CP932", "WINDOWS-31J", "SHIFT_JIS", "SJIS"})
        if (std::strcmp(charset, name) == 0)
            return true;
    return false;
}

// The text in the given character set, or empty if it cannot be shown there.
std::string convert(const std::string &text, const char *charset)
{
    iconv_t cd = iconv_open(charset, "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string in = text;
    std::string out(in.size() * 4, '\0');
    char *in_p = in.data(), *out_p = out.data();
    size_t in_left = in.size(), out_left = out.size();
    size_t done = iconv(cd, &in_p, &in_left, &out_p, &out_left);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1) || in_left != 0)
        return {};
    out.resize(out.size() - out_left);
    return out;
}

}  // namespace

void print_help(std::FILE *out)
{
    std::string text = stored_help();
    std::setlocale(LC_CTYPE, "");
    const char *charset = nl_langinfo(CODESET);
    if (!is_stored_charset(charset)) {
        std::string shown = convert(text, charset);
        if (!shown.empty())
            text = shown;
    }
    std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace lumtar
