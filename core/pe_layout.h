// The PE headers of an executable, read through a ByteSource, and where the
// payload ends in a patch executable that may be signed. Signing appends a
// certificate table behind the last byte of the file and records it in the
// PE security directory (a file offset and a size); the signing tool first
// pads the file with zeros to a multiple of 8. The payload's trailer then
// stands in front of the table instead of at the end of the file.
#pragma once
#include <cstdint>

#include "core/byte_source.h"

// Longest zero padding a signing tool puts in front of the certificate table.
constexpr uint32_t kCertificateAlignment = 8;

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kSubsystemWindowsGui = 2;

enum class PeStatus {
    kOk,
    kNoDosHeader,  // no "MZ" header
    kNoPeHeader,   // no "PE" signature and file header where the DOS header points
};

// What the applier and the builder look at in an image's headers. Fields the
// file is too short for stay 0 / false.
struct PeHeaders {
    uint16_t machine = 0;
    uint16_t sectionCount = 0;
    uint64_t optionalStart = 0;
    uint16_t optionalSize = 0;
    uint16_t optionalMagic = 0;  // kPe32Magic, kPe32PlusMagic or anything else
    bool hasSubsystem = false;   // the subsystem field lies inside the file
    uint16_t subsystem = 0;
    // The security directory, when the optional header is PE32 or PE32+ and
    // holds that entry.
    bool hasSecurityDirectory = false;
    uint32_t securityOffset = 0;
    uint32_t securitySize = 0;
};

PeStatus ReadPeHeaders(ByteSource& file, PeHeaders* out);

// Furthest end of any section's raw data; false when a section header does
// not lie wholly below limit.
bool ReadSectionDataEnd(ByteSource& file, const PeHeaders& pe, uint32_t limit, uint64_t* end);

// End of the payload's trailer in `file`: where the certificate table starts,
// less up to 7 zero bytes of padding, when and only when the PE security
// directory says the file ends with that table; otherwise the file size.
// Malformed or cut headers count as unsigned.
uint32_t PayloadTrailerEnd(ByteSource& file);

// Zero bytes to put between the stub and the payload so the whole patch is a
// multiple of 8 long: a signing tool then adds no padding and the trailer
// stays directly in front of the certificate table.
uint32_t PaddingBeforePayload(uint64_t stubSize, uint64_t payloadLength);
