// Anchors the precompiled GoogleTest and GoogleMock header that the test executables reuse.
