// The names the applier gives its own work in the target: the numbered
// staging directories PATCHn.TMP, the intermediate outputs of a chained
// rebuild, and the place in the staging directory where an older backup
// waits while a run goes on (PATCH0.TMP: number 0 is never a staging
// directory, so no record may begin with it either).
#pragma once

constexpr char kStagingPrefix[] = "PATCH";
constexpr char kStagingSuffix[] = ".TMP";
constexpr char kStagingPattern[] = "PATCH*.TMP";
constexpr char kStagingFormat[] = "PATCH%d.TMP";
constexpr char kSetAsideName[] = "PATCH0.TMP";
// Intermediate outputs alternate between these two names.
constexpr const char* kIntermediateNames[2] = {"BINTMP1.TMP", "BINTMP2.TMP"};
