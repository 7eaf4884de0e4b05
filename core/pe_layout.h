// Where the payload ends in a patch executable that may be signed. Signing
// appends a certificate table behind the last byte of the file and records it
// in the PE security directory (a file offset and a size); the signing tool
// first pads the file with zeros to a multiple of 8. The payload's trailer
// then stands in front of the table instead of at the end of the file.
#pragma once
#include <cstdint>

#include "core/byte_source.h"

// Longest zero padding a signing tool puts in front of the certificate table.
constexpr uint32_t kCertificateAlignment = 8;

// End of the payload's trailer in `file`: where the certificate table starts,
// less up to 7 zero bytes of padding, when and only when the PE security
// directory says the file ends with that table; otherwise the file size.
// Malformed or cut headers count as unsigned.
uint32_t PayloadTrailerEnd(ByteSource& file);

// Zero bytes to put between the stub and the payload so the whole patch is a
// multiple of 8 long: a signing tool then adds no padding and the trailer
// stays directly in front of the certificate table.
uint32_t PaddingBeforePayload(uint64_t stubSize, uint64_t payloadLength);
