#include "container/process_texts.h"

std::string gPatchPath;
std::string gCurrentFileName;
std::string gTargetDirectory;
