// How Windows reads a relative path of code page 950 bytes with '\' or '/'
// separators: which names it can create as ordinary files, and which names it
// takes for the same file. The builder and the applier share these rules, so
// a patch the builder writes is never one the applier refuses.
#pragma once
#include <string>
#include <vector>

enum class NameProblem {
    kNone,
    kEmptyComponent,      // empty path, doubled, leading or trailing separator
    kDotComponent,        // only dots and blanks: "." or ".." once trimmed
    kTrailingDotOrBlank,  // Windows would drop them and reach another name
    kReservedCharacter,   // < > : " | ? *
    kControlCharacter,    // 0x01-0x1F (0x00 cannot occur in a stored name)
    kBrokenCharacter,     // a lead byte without its second byte, or 0x80 / 0xFF
    kDeviceName,          // CON, NUL.txt, com1 ... in any component
    kWorkName,            // the applier's staging or intermediate name at the top
    kOverlapsTreePath,    // a backup name on, above or below a file of the patch
};

// A short English phrase for messages: "\"x\" " + phrase.
const char* DescribeNameProblem(NameProblem problem);

// The components of a path, split at separators that are not the second byte
// of a double-byte character.
std::vector<std::string> SplitWindowsPath(const std::string& path);

// The directories a relative path passes through, deepest first: "a\\b\\f"
// gives "a\\b", then "a". Split as SplitWindowsPath splits.
std::vector<std::string> ParentDirectories(const std::string& path);
// Whether Windows creates every component of the path as an ordinary file or
// directory of that exact name below the directory it is joined to.
NameProblem CheckWindowsPath(const std::string& path);

// CheckWindowsPath, and the first component is none of the names the applier
// makes in the target for itself (PATCHn.TMP, BINTMP1.TMP, BINTMP2.TMP).
NameProblem CheckPatchPath(const std::string& path);

// Equal for two paths exactly when Windows file systems take them for the
// same file: separators alike, case folded for every code page 950 letter,
// trailing dots and blanks of each component dropped.
std::string WindowsNameKey(const std::string& path);

// True when one path is the other or lies below it, by Windows' comparison.
bool PathsOverlap(const std::string& a, const std::string& b);

// The backup directory name against the rules of CheckPatchPath and against
// every file path of the patch: a backup on, above or below one of them would
// mix backups with installed files. *clash receives the path in question.
NameProblem CheckBackupName(const std::string& backup, const std::vector<std::string>& paths,
                            std::string* clash);
