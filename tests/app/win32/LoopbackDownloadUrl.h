#pragma once
// For the program built for the UI test only: its download URL is taken from
// the environment variable VYK_TEST_DOWNLOAD_URL when the program starts, so
// that the test's loopback server, on a port chosen at run time, serves it.

const char* LoopbackDownloadUrl();
// The same for the pinned publisher keys, from VYK_TEST_PUBLISHER_KEYS (none
// when it is not set).
const char* LoopbackPublisherKeys();
