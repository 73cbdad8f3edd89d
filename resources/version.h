// The product's version, shared by the module's and the host's version
// records. Packaging takes every version it writes (the cabinet's INF, the
// object tag, the MSIs) from the built files' records. A test build makes an
// older module to upgrade from.
#pragma once

#ifdef TRV_TEST_OLDER_VERSION
#define TRV_VERSION 1,0,0,4
#define TRV_VERSION_TEXT "1.0.0.4"
#else
#define TRV_VERSION 1,0,0,5
#define TRV_VERSION_TEXT "1.0.0.5"
#endif
