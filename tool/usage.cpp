#include "usage.h"

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

std::string help_text()
{
    std::string text;
    for (const char *const *line = usage; *line != nullptr; ++line)
        text.append(*line).append("\n");
    return text;
}

}  // namespace lumtar
