/* A library that a test plants beside the program to see whether a plain load picks it up. */
__declspec(dllexport) int quorle_planted_marker(void) {
    return 42;
}
