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
void CreateFonts(const FontSpec (&specs)[N]) {
    for (const FontSpec& spec : specs) {
        if (*spec.slot) continue;  // made by an earlier window
        *spec.slot = CreateFontA(spec.height, 0, 0, 0, spec.weight, FALSE, spec.underline, FALSE,
                                 spec.charSet, spec.outputPrecision, CLIP_DEFAULT_PRECIS,
                                 PROOF_QUALITY, spec.pitchAndFamily, spec.face);
    }
}

}  // namespace

void CreateLabelFonts() { CreateFonts(kLabelFonts); }

void CreatePaneFonts() { CreateFonts(kPaneFonts); }
