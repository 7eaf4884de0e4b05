// Finds the directory of the software to be patched for every section and
// fills the section tables the passes walk.
#pragma once

// 0, 1 (a location record or a section body cannot be read, or more sections
// than the tables hold) or 41 (the registry does not name the target).
int LocateTarget();

// Turns gTargetDirectory into its directory when it names an existing file:
// the part up to and including the last backslash, or "." without one.
void CutToDirectory();
