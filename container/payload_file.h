// The payload file: the inflated payload in a self-deleting temporary file,
// read by absolute position through one shared handle.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/byte_source.h"
#include "core/payload_layout.h"

extern HANDLE gPayloadFile;  // 0 until extracted
extern uint32_t gRecordsStart;
extern PatchHeader gPatchHeader;

bool ReadPayload(void* buffer, uint32_t count);  // all-or-nothing
bool ReadPayloadString(std::string* out);
bool CopyPayloadToFile(int64_t count, HANDLE destination);
bool SeekPayload(uint32_t position);
uint32_t PayloadPosition();
void ClosePayloadFile();

// The payload file as a ByteSource, for the shared record reader.
ByteSource& PayloadSource();
