// Replacement of files in use at the next start of Windows: the moves the
// apply pass could not carry out are queued with the operating system.
#pragma once
#include <cstdint>
#include <string>

// PassCallback of the deferred-replacement pass; always 0.
int DeferInUseFile(int section, uint8_t kind);

// Queues the move source -> destination for the next start of Windows: the
// delay-until-reboot list on the NT family, WININIT.INI on the 9x family.
void QueueRename(const std::string& source, const std::string& destination);
