// The texts the tool shows, kept in one place as the bytes that go out.
//
// The Japanese texts are Shift-JIS (code page 932) byte strings; the readable
// wording stands in the comment above each line. A "\x5C" byte inside a
// double-byte character is part of that character, not a backslash. Each has
// a UTF-8 twin (the same name with "Utf8"), written to a console that shows
// UTF-8; the mailbox, files and pipes always get the code page 932 bytes.
#pragma once

#include <string_view>

namespace dwarfsift::texts {

using namespace std::string_view_literals;

inline constexpr std::string_view kBanner =
    "KPIT-Gnu or GCC for RenesasRX ELF/Dwarf2or3 Symbol Converter Tool Ver5.00D\n"sv;

// Shown when no input file is named.
inline constexpr std::string_view kUsage =
    // ファイル名が入力されていません。
    "\x83t\x83@\x83" "C\x83\x8B\x96\xBC\x82\xAA\x93\xFC\x97\xCD\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81" "B\n"
    // >Dwarfsift Dir\FileName [-sw][-o Dir\OutFileName]
    ">Dwarfsift Dir\x5C" "FileName [-sw][-o Dir\x5COutFileName]\n"
    //  [-r] ディレクトリ情報を作成しない。
    " [-r] \x83" "f\x83" "B\x83\x8C\x83N\x83g\x83\x8A\x8F\xEE\x95\xF1\x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xC8\x82\xA2\x81" "B\n"
    //  [-i] 重複モジュール情報(Inline関数等)を削除する。
    " [-i] \x8F" "d\x95\xA1\x83\x82\x83W\x83\x85\x81[\x83\x8B\x8F\xEE\x95\xF1(Inline\x8A\xD6\x90\x94\x93\x99)\x82\xF0\x8D\xED\x8F\x9C\x82\xB7\x82\xE9\x81" "B\n"
    //  [-g] スタティック変数をグローバル化する。
    " [-g] \x83X\x83^\x83" "e\x83" "B\x83" "b\x83N\x95\xCF\x90\x94\x82\xF0\x83O\x83\x8D\x81[\x83o\x83\x8B\x89\xBB\x82\xB7\x82\xE9\x81" "B\n"
    //  [-f] 使用しているインクルードファイルを全てTovixに登録する。
    " [-f] \x8Eg\x97p\x82\xB5\x82\xC4\x82\xA2\x82\xE9\x83" "C\x83\x93\x83N\x83\x8B\x81[\x83h\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x91S\x82\xC4Tovix\x82\xC9\x93o\x98^\x82\xB7\x82\xE9\x81" "B\n"
    //  [-m] 重複情報をTovixにマージする。[-i]時は無効になる。
    " [-m] \x8F" "d\x95\xA1\x8F\xEE\x95\xF1\x82\xF0Tovix\x82\xC9\x83}\x81[\x83W\x82\xB7\x82\xE9\x81" "B[-i]\x8E\x9E\x82\xCD\x96\xB3\x8C\xF8\x82\xC9\x82\xC8\x82\xE9\x81" "B\n"
    //  [-s] ラインシンボル情報をソートしない。
    " [-s] \x83\x89\x83" "C\x83\x93\x83V\x83\x93\x83{\x83\x8B\x8F\xEE\x95\xF1\x82\xF0\x83\x5C\x81[\x83g\x82\xB5\x82\xC8\x82\xA2\x81" "B\n"
    //  [-l] ローカルの全シンボル情報を作成しない。
    " [-l] \x83\x8D\x81[\x83J\x83\x8B\x82\xCC\x91S\x83V\x83\x93\x83{\x83\x8B\x8F\xEE\x95\xF1\x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xC8\x82\xA2\x81" "B\n"
    //  [-x] ローカルの構造体シンボル情報を作成しない。
    " [-x] \x83\x8D\x81[\x83J\x83\x8B\x82\xCC\x8D\x5C\x91\xA2\x91\xCC\x83V\x83\x93\x83{\x83\x8B\x8F\xEE\x95\xF1\x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xC8\x82\xA2\x81" "B\n"
    //  [-z] 構造体メンバ-のシンボル情報は作成しない。
    " [-z] \x8D\x5C\x91\xA2\x91\xCC\x83\x81\x83\x93\x83o-\x82\xCC\x83V\x83\x93\x83{\x83\x8B\x8F\xEE\x95\xF1\x82\xCD\x8D\xEC\x90\xAC\x82\xB5\x82\xC8\x82\xA2\x81" "B\n"
    ""sv;
inline constexpr std::string_view kUsageUtf8 =
    "ファイル名が入力されていません。\n"
    ">Dwarfsift Dir\\FileName [-sw][-o Dir\\OutFileName]\n"
    " [-r] ディレクトリ情報を作成しない。\n"
    " [-i] 重複モジュール情報(Inline関数等)を削除する。\n"
    " [-g] スタティック変数をグローバル化する。\n"
    " [-f] 使用しているインクルードファイルを全てTovixに登録する。\n"
    " [-m] 重複情報をTovixにマージする。[-i]時は無効になる。\n"
    " [-s] ラインシンボル情報をソートしない。\n"
    " [-l] ローカルの全シンボル情報を作成しない。\n"
    " [-x] ローカルの構造体シンボル情報を作成しない。\n"
    " [-z] 構造体メンバ-のシンボル情報は作成しない。\n"sv;

// "--help": the English usage, for anyone the Japanese one leaves behind.
inline constexpr std::string_view kHelp =
    "Usage: dwarfsift [options] input[.x] [-o output]\n"
    "\n"
    "Converts the DWARF debugging information of a 32-bit ELF file into the\n"
    "files a host debugger loads. An input name without extension gets \".x\".\n"
    "\n"
    "Options:\n"
    "  -o name      base name of the output files (default: the input name)\n"
    "  -d           debug trace into the SYM and LXX files and to the console;\n"
    "               keeps the LXX file; no per-unit limit\n"
    "  -p           with -d: trace into the files only\n"
    "  -a           also write the loadable sections as Motorola S-records (.mot)\n"
    "  -adef        send the messages to the host debugger's shared-memory mailbox\n"
    "  -2           pointer-typed symbols get size 2 instead of 4\n"
    "  -r           no directory information in the line file\n"
    "  -s           accepted; changes nothing\n"
    "  -g           static variables also get global symbol records\n"
    "  -i           delete duplicate module information (inline functions)\n"
    "               from the line data; switches -m off\n"
    "  -f           register every include file in use in the line file\n"
    "  -m           merge duplicate information in the line file\n"
    "  -l           no local symbol information\n"
    "  -x           no symbol information for local structures\n"
    "  -z           no symbol information for structure members\n"
    "  -e           each SYM record carries the positions of its entries\n"
    "  -?hex        switch the trace on at the first entry at or after this\n"
    "               position of the input\n"
    "  -h, --help   show this help\n"
    "  --version    show the version\n"
    "Any other argument is a file name; the last one is the input.\n"
    "\n"
    "Files written (the output name with its extension replaced):\n"
    "  .SYM  symbol records             .MEB  structure members\n"
    "  .LIN  address-to-line rows       .LXX  line listing (kept with -d)\n"
    "  .mot  S-records (with -a)\n"
    "\n"
    "Exit status (as a POSIX shell sees it):\n"
    "  0    symbols and lines were written\n"
    "  255  no input name, or the input cannot be read, is empty or (a pipe,\n"
    "       a device) gives more than 1 GB\n"
    "  254  the input is not a 32-bit ELF file\n"
    "  253  no symbol was produced\n"
    "  252  symbols but no line were produced\n"
    "  251  an output file could not be created or written completely\n"
    "  250  the files were written, but the input is damaged: they lack what\n"
    "       the messages name\n"sv;

// "-?<hex>" past the last entry of .debug_info: no trace was written.
inline constexpr const char* kTraceNotReached =
    "-?%X: no entry of .debug_info at or after this position; the trace stayed off\n";

// Shown when the echoed command line reaches 255 characters.
inline constexpr std::string_view kTooLong =
    // ディレクトリ名およびファイル名が深く長すぎます。！！
    "\x83" "f\x83" "B\x83\x8C\x83N\x83g\x83\x8A\x96\xBC\x82\xA8\x82\xE6\x82\xD1\x83t\x83@\x83" "C\x83\x8B\x96\xBC\x82\xAA\x90[\x82\xAD\x92\xB7\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81" "B\x81I\x81I\n"
    ""sv;
inline constexpr std::string_view kTooLongUtf8 =
    "ディレクトリ名およびファイル名が深く長すぎます。！！\n"sv;

// Follows the input name when the input cannot be read or is empty.
inline constexpr std::string_view kMissingFileSuffix =
    //  ファイルが有りません！！
    " \x83t\x83@\x83" "C\x83\x8B\x82\xAA\x97L\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81I\x81I\n"
    ""sv;
inline constexpr std::string_view kMissingFileSuffixUtf8 =
    " ファイルが有りません！！\n"sv;

// Shown when the input does not start with the ELF signature.
inline constexpr std::string_view kNotElf =
    // 指定ファイルはELF/Dwarf2フォーマットでありません。
    "\x8Ew\x92\xE8\x83t\x83@\x83" "C\x83\x8B\x82\xCD" "ELF/Dwarf2\x83t\x83H\x81[\x83}\x83" "b\x83g\x82\xC5\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\n"
    ""sv;
inline constexpr std::string_view kNotElfUtf8 =
    "指定ファイルはELF/Dwarf2フォーマットでありません。\n"sv;

// Phase announcements, in the order the driver runs the phases.
inline constexpr std::string_view kGetSection = "GetSection()\n"sv;
inline constexpr std::string_view kGetDebugLocAll = "GetDebugLocAll()\n"sv;
inline constexpr std::string_view kGetDebugSymTabAll = "GetDebugSymTabAll()\n"sv;
inline constexpr std::string_view kGetDebugInfoAll = "GetDebugInfoAll()\n"sv;
inline constexpr std::string_view kGetDebugLineAll = "GetDebugLineAll()\n"sv;
inline constexpr std::string_view kGetDebugMemberAll = "GetDebugMemberAll()\n"sv;

// printf format of the closing line: symbol count, line count.
inline constexpr const char* kCompleteFormat = "complete symbols=%lu lines=%lu\n";

// Our own reports on damaged ELF files (printf formats).
inline constexpr const char* kElfHeaderIncomplete =
    "ELF header incomplete: the file holds %u bytes!!\n";
inline constexpr const char* kProgramHeadersOutside =
    "Program header table [0x%X] lies outside the file!!\n";
inline constexpr const char* kSectionHeadersOutside =
    "Section header table [0x%X] lies outside the file!!\n";
inline constexpr const char* kSectionNamesUnusable =
    "Section name table [%u] unusable, no section located!!\n";
inline constexpr const char* kSectionOutside =
    "Section [%u] %s lies outside the file, skipped!!\n";
// An output name that reaches the input file: output name, input name.
inline constexpr const char* kOutputIsInput =
    "Output file %s is the input file %s, nothing written!!\n";
// An output file that could not be created or written completely, and the
// system's reason; the name keeps what it had.
inline constexpr const char* kCannotCreate = "%s cannot be created: %s!!\n";
inline constexpr const char* kWriteFailed =
    "%s could not be written completely: %s, left as it was!!\n";
// The run was stopped by a signal or console event, ran out of memory, or
// met an error it cannot go on from: the files it had not completed are
// removed and their names keep what they had.
inline constexpr std::string_view kStopped =
    "Stopped by a signal: unfinished output files were removed, their names keep what "
    "they had!!\n"sv;
inline constexpr std::string_view kOutOfMemory =
    "Out of memory: the run stopped, unfinished output files were removed, their names "
    "keep what they had!!\n"sv;
inline constexpr std::string_view kUnexpectedStop =
    "The run stopped on an unexpected error: unfinished output files were removed!!\n"sv;
// Follows kTooLong: which limit the command line passed (its length).
inline constexpr const char* kTooLongLimit =
    "The echoed command line (\"/usage: \", the program path, the arguments) must stay "
    "below 255 characters; this one has %lu. Give the input by a shorter path, a "
    "relative one say.\n";
// The last line of a trace that reached its limit (the limit in bytes).
inline constexpr const char* kTraceCut =
    "/Trace cut here: it reached its limit of %llu bytes (64 x the input size + 64 MB)!!\n";
// The input is readable but larger than 32-bit positions reach.
inline constexpr std::string_view kInputTooLargeSuffix =
    " is larger than 4 GB!!\n"sv;
// The input is no regular file (a pipe, a device) and gives more than we
// read from such a file.
inline constexpr std::string_view kInputEndlessSuffix =
    " is no regular file and gives more than 1 GB, not read!!\n"sv;
// An ELF file of another class than 32-bit: the class's name and number.
inline constexpr const char* kElfClassRefused =
    "The input is a %s ELF file (class %u); only 32-bit ELF files are converted!!\n";
// A relocatable object (ET_REL) instead of a linked image: the input name.
inline constexpr const char* kRelocatableObject =
    "%s is a relocatable object: its addresses are not final, convert the linked image "
    "instead!!\n";
// No section .debug_info: the input name.
inline constexpr const char* kNoDebugInfo =
    "%s has no debugging information (no .debug_info section)!!\n";
// A compressed section that cannot be inflated: index, name, reason (one of
// the kInflate* texts below).
inline constexpr const char* kSectionNotInflated =
    "Section [%u] %s cannot be inflated: %s, skipped!!\n";
inline constexpr const char* kInflateHeaderIncomplete = "its compression header is incomplete";
inline constexpr const char* kInflateNoGnuMagic = "it does not start with \"ZLIB\"";
inline constexpr const char* kInflateUnknownType = "unknown compression type %u";
inline constexpr const char* kInflateNoZstd =
    "it is compressed with zstd, which this build cannot read";
inline constexpr const char* kInflateBeyondBound =
    "its header claims %llu bytes, beyond the bound of %llu bytes "
    "(64 x the input size + 64 MB, at most 4 GB in all)";
inline constexpr const char* kInflateShort =
    "the stream gives %llu of the %llu bytes its header claims";
inline constexpr const char* kInflateLong =
    "the stream gives more than the %llu bytes its header claims";
inline constexpr const char* kInflateTruncated = "the stream is cut short";
inline constexpr const char* kInflateCorrupt = "the stream is corrupt (%s)";
// A loadable section whose bytes lie outside the file: index, name, the
// S-record file's name.
inline constexpr const char* kSectionLeftOutOfMot =
    "Section [%u] %s lies outside the file, left out of %s!!\n";
// The walk could not load a unit's abbreviations: unit number, position.
inline constexpr const char* kUnitWalkStopped =
    "Unit [%u] at [0x%08X] has no usable abbreviation table: it and the units after it "
    "are skipped!!\n";
// Before the closing line of a run that left damaged (or, without zstd,
// unreadable) parts of the input out.
inline constexpr std::string_view kInputDamaged =
    "Parts of the input were left out: the files written lack what the messages above "
    "name!!\n"sv;

// The limits of the unit walk (printf formats).
inline constexpr const char* kSelfDestructEntry =
    "/??Error!! self-destruct entry[0x%X] index[%d]\n";
inline constexpr const char* kUnitTimeOver =
    "unit[%s] Struct MemberSize[%d] time over[%dmsec]!!\n";
inline constexpr const char* kMemberSizeLimit = "Struct MemberSize[%d] limit over!!\n";
// The run's work, bounded by the size of its entries, is spent: the unit
// number from which the rest are left out.
inline constexpr const char* kRunWorkSpent =
    "/the run's work budget is spent: the units from .debug_info[%d] on are passed over!!\n";
// What the member limit cut: the unit's name and the members a unit may
// store.
inline constexpr const char* kMemberSizeLimitCut =
    "unit[%s]: its later local structures and members are left out, a unit stores at most "
    "%d members!!\n";
// What a full member area cut: the members a run stores.
inline constexpr const char* kMemberAreaFullCut =
    "member area: the later local structures and members of the run are left out, a run "
    "stores at most %d members!!\n";
inline constexpr const char* kMemberSlotsFull =
    "/Struct Symbol Table heep over flow !! (%d)\n";
// What the full member slots cut: the symbol's name and the members one
// symbol holds.
inline constexpr const char* kMemberSlotsFullCut =
    "/symbol[%s]: its members past the first %d are left out, one symbol's member group "
    "holds no more!!\n";
// A unit whose header layout is not read: its number, file position and
// version.
inline constexpr const char* kUnitVersionSkipped =
    "Unit [%d] at [0x%08X] is DWARF version %d, skipped!!\n";
inline constexpr const char* kUnitTypeSkipped =
    "Unit [%d] at [0x%08X] is a DWARF %d %s unit (type 0x%02X), skipped!!\n";
inline constexpr const char* kUnit64BitSkipped =
    "Unit [%d] at [0x%08X] is 64-bit DWARF version %d, skipped!!\n";

// Trace lines of the unit walk (printf formats). An entry followed from a
// reference or a child list: tag name, abbreviation code, position after the
// code.
// One abbreviation declaration as its table is loaded: its first byte (the
// code, for codes below 256) and its position.
inline constexpr const char* kTraceAbbrevDeclaration =
    "/----- .debug_addrev Section [% 3d] [0x%04X]-\n";
inline constexpr const char* kTraceFollowedEntry =
    "/++++++ Tag[%s] .debug_addrev entry[% 3d] [0x%04X]\n";
// An entry met while the unit's entry index is built, and one met by the
// conversion walk: section offset, unit offset, tag name, abbreviation code.
inline constexpr const char* kTraceSearchedEntry =
    "/==[0x%04X]{0x%04X} Tag[%s] .debug_addrev Section[% 3d] *\n";
inline constexpr const char* kTraceUsedEntry =
    "/[0x%04X]{0x%04X} Tag[%s] Used .debug_addrev Section[% 3d] *\n";

// File headers.
inline constexpr std::string_view kHeaderTool = "/Orvik(KPIT-GNU-ELF)-Symbol-Converter\n"sv;
inline constexpr std::string_view kHeaderVersion = "/Ver5.00D\n"sv;
inline constexpr std::string_view kHeaderInlineDelOff = "/InlineDel=OFF\n"sv;
inline constexpr std::string_view kHeaderViewMergeOn = "/ViewMerg=ON\n"sv;
inline constexpr std::string_view kHeaderMemberAdd = "/MemberAdd\n"sv;

// Each Japanese text with its UTF-8 form, for a console that shows UTF-8.
// Only whole texts are looked up; file names around them pass unchanged.
struct TextForms {
  std::string_view cp932;
  std::string_view utf8;
};
inline constexpr TextForms kJapaneseTexts[] = {
    {kUsage, kUsageUtf8},
    {kTooLong, kTooLongUtf8},
    {kMissingFileSuffix, kMissingFileSuffixUtf8},
    {kNotElf, kNotElfUtf8},
};

}  // namespace dwarfsift::texts
