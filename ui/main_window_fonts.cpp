#include "ui/main_window_fonts.h"

MainWindowFonts gFonts;

namespace {

constexpr char kLabelFace[] = "新細明體";
constexpr int kLabelHeight = -15;
constexpr int kLogHeight = -12;
constexpr int kDescriptionHeight = -14;
constexpr int kWeightBold = 600;
constexpr int kWeightMedium = 500;
constexpr int kWeightNormal = 400;

struct FontSpec {
    HFONT* slot;
    int height;
    int weight;
    bool underline;
    DWORD charSet;
    DWORD outputPrecision;
    DWORD pitchAndFamily;
    const char* face;
};

const FontSpec kLabelFonts[] = {
    {&gFonts.label, kLabelHeight, kWeightBold, false, OEM_CHARSET, OUT_DEFAULT_PRECIS,
     VARIABLE_PITCH | FF_SWISS, kLabelFace},
    {&gFonts.link, kLabelHeight, kWeightMedium, true, OEM_CHARSET, OUT_DEFAULT_PRECIS,
     VARIABLE_PITCH | FF_SWISS, kLabelFace},
    {&gFonts.button, kLabelHeight, kWeightBold, false, OEM_CHARSET, OUT_DEFAULT_PRECIS,
     VARIABLE_PITCH | FF_SWISS, kLabelFace},
};

const FontSpec kPaneFonts[] = {
    {&gFonts.log, kLogHeight, kWeightNormal, false, ANSI_CHARSET, OUT_TT_PRECIS,
     VARIABLE_PITCH | FF_MODERN, nullptr},
    {&gFonts.description, kDescriptionHeight, kWeightNormal, false, ANSI_CHARSET, OUT_TT_PRECIS,
     FIXED_PITCH | FF_MODERN, nullptr},
};

template <size_t N>
void CreateFonts(const FontSpec (&table)[N]) {
    for (const FontSpec& entry : table) {
        if (*entry.slot) continue;  // made by an earlier window
        *entry.slot = CreateFontA(entry.height, 0, 0, 0, entry.weight, FALSE, entry.underline,
                                  FALSE, entry.charSet, entry.outputPrecision, CLIP_DEFAULT_PRECIS,
                                  PROOF_QUALITY, entry.pitchAndFamily, entry.face);
    }
}

}  // namespace

void CreateLabelFonts() { CreateFonts(kLabelFonts); }

void CreatePaneFonts() { CreateFonts(kPaneFonts); }
