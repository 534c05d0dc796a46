/* A program that does nothing: the stand-in whose resources the manifest check reads. */
int main(void) {
    return 0;
}
