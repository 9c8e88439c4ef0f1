#pragma once

#include <cstddef>
#include <cstdint>

// The bodies of the fuzz targets as plain functions, so that libFuzzer drives them in the fuzz
// build and the corpus replay test runs the very same checks in the normal build. Each returns 0
// and aborts when an input breaks one of the properties it checks.
int FuzzIni(const uint8_t* data, size_t size);
int FuzzPalette(const uint8_t* data, size_t size);
int FuzzLanguage(const uint8_t* data, size_t size);
int FuzzEMailList(const uint8_t* data, size_t size);
int FuzzCacheCopy(const uint8_t* data, size_t size);
int FuzzCdp(const uint8_t* data, size_t size);
int FuzzDiskCache(const uint8_t* data, size_t size);
int FuzzStyleSheet(const uint8_t* data, size_t size);

// One target by the name of its corpus folder ("ini", "palette", ...); null when unknown.
using FuzzTarget = int (*)(const uint8_t*, size_t);
FuzzTarget FuzzTargetByName(const char* name);
