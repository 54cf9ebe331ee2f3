// Run at configure time against the ICU that the module will carry: its
// Unicode version, and one conversion that only current IDNA data gives.
#include <unicode/uchar.h>
#include <unicode/uidna.h>

#include <cstdio>
#include <cstring>

int main() {
    UVersionInfo version;
    u_getUnicodeVersion(version);
    std::printf("unicode=%d.%d\n", version[0], version[1]);

    UErrorCode status = U_ZERO_ERROR;
    UIDNA* idna = uidna_openUTS46(UIDNA_NONTRANSITIONAL_TO_ASCII, &status);
    if (U_FAILURE(status)) {
        std::printf("idna=%s\n", u_errorName(status));
        return 0;
    }
    // U+1E9E maps to U+00DF since Unicode 15.1, to "ss" before.
    char out[64] = {};
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const int32_t n = uidna_nameToASCII_UTF8(idna, "stra\xe1\xba\x9e" "e.de", -1, out, sizeof out - 1, &info, &status);
    std::printf("idna=%.*s\n", U_SUCCESS(status) && n > 0 ? n : 0, out);
    uidna_close(idna);
    return 0;
}
