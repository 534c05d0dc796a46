/* A program that imports a DLL of its own (the planted library of the driver setup tests):
 * the stand-in that the import check must refuse. */
int quorle_planted_marker(void);

int main(void) {
    return quorle_planted_marker() == 0;
}
