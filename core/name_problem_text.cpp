// The builder's wording of a name problem; a file of its own, so the applier,
// which never describes one, does not carry the texts.
#include "core/windows_names.h"

const char* DescribeNameProblem(NameProblem problem) {
    switch (problem) {
        case NameProblem::kNone:
            return "is a valid name";
        case NameProblem::kEmptyComponent:
            return "has an empty component (a leading, trailing or doubled separator)";
        case NameProblem::kDotComponent:
            return "has a component of only dots and blanks, which would leave the target "
                   "directory "
                   "or name it";
        case NameProblem::kTrailingDotOrBlank:
            return "has a component ending in a dot or blank, which Windows drops";
        case NameProblem::kReservedCharacter:
            return "holds one of < > : \" | ? *, which Windows does not allow in names";
        case NameProblem::kControlCharacter:
            return "holds a control character";
        case NameProblem::kBrokenCharacter:
            return "holds a byte that is no complete code page 950 character";
        case NameProblem::kDeviceName:
            return "names a Windows device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, "
                   "CONOUT$, CLOCK$), with or without extension";
        case NameProblem::kWorkName:
            return "is a name the applier uses for its own work (PATCHn.TMP, BINTMP1.TMP, "
                   "BINTMP2.TMP)";
        case NameProblem::kOverlapsTreePath:
            return "would share its path with a file of the patch";
    }
    return "is not a valid name";
}
