// The registry back end of the settings store: values under
// HKEY_LOCAL_MACHINE (machine-wide) or HKEY_CURRENT_USER (per-user), key
// Software\Korvane\nfsd, or its subkey named by a section other than "nfsd".
// The POSIX build has no registry: reads give the default, writes fail.
#pragma once

#include <cstdint>

// Copies the value (or the default on any failure) into buffer; returns the
// byte count of a REG_BINARY value, else the length of the text.
uint32_t RegistryReadString(int perUser, const char *section, const char *key, const char *defaultValue,
                            char *buffer, uint32_t size);
// The value read as text of up to 64 characters and parsed as a decimal
// number; the default when absent, empty or not a number.
int32_t RegistryReadInt(int perUser, const char *section, const char *key, int32_t defaultValue);
// Writes the text as REG_SZ (creating the key), or deletes the value when
// value is null.  Nonzero on success.
int RegistryWriteString(int perUser, const char *section, const char *key, const char *value);

// Shared by both builds: the registry key path of a section
// ("Software\Korvane\nfsd", or "Software\Korvane\nfsd\<section>").
// Returns 0 when it does not fit.
int RegistryKeyPath(const char *section, char *buffer, uint32_t size);
// Copies the default (null counts as "") into buffer, cut to size - 1 bytes;
// returns its length.  size must be at least 1.
uint32_t RegistryCopyDefault(const char *defaultValue, char *buffer, uint32_t size);
// "%d" parsing of registry text: blanks, a sign, decimal digits; returns 0
// when no digit follows.  Values beyond 32 bits keep their low 32 bits.
int ParseDecimal(const char *text, int32_t *value);
