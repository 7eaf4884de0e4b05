# Sources of the builder's compressors, taken from Debian's source packages at
# configure time: checked against a pinned SHA-256, kept in a download cache
# shared by every build tree and clone (SELFPATCH_DOWNLOAD_CACHE, default
# ~/.cache/selfpatch), so the network is needed once per machine.
set(SELFPATCH_DOWNLOAD_CACHE "$ENV{HOME}/.cache/selfpatch" CACHE PATH
    "Where the third-party source archives are kept between builds")

# Sets <var> to the directory of the unpacked archive <file> (top directory
# <top> inside it) from Debian's pool path <pool>.
function(debian_source var pool file sha256 top)
  set(archive "${SELFPATCH_DOWNLOAD_CACHE}/${file}")
  if(EXISTS "${archive}")
    file(SHA256 "${archive}" actual)
    if(NOT actual STREQUAL sha256)
      file(REMOVE "${archive}")
    endif()
  endif()
  if(NOT EXISTS "${archive}")
    message(STATUS "Downloading ${file}")
    file(DOWNLOAD "http://deb.debian.org/debian/pool/${pool}/${file}" "${archive}.part"
         EXPECTED_HASH SHA256=${sha256} STATUS status TLS_VERIFY ON)
    list(GET status 0 code)
    if(NOT code EQUAL 0)
      file(REMOVE "${archive}.part")
      message(FATAL_ERROR "Cannot download ${file} (${status}); put it into "
                          "${SELFPATCH_DOWNLOAD_CACHE} by hand")
    endif()
    file(RENAME "${archive}.part" "${archive}")
  endif()
  set(unpacked "${CMAKE_BINARY_DIR}/third_party_sources")
  if(NOT EXISTS "${unpacked}/${top}")
    file(ARCHIVE_EXTRACT INPUT "${archive}" DESTINATION "${unpacked}")
  endif()
  set(${var} "${unpacked}/${top}" PARENT_SCOPE)
endfunction()
