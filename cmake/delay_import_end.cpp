// The end of the program's table of delay-import descriptors: 32 zero bytes right after the
// descriptors of the delay libraries, which lie in sections .text$2 that the linker sorts
// before this .text$3. delay_import.py checks the layout and points the program's
// delay-import directory at the table.
extern "C" {
extern const unsigned char __quorle_delay_import_end[32];
__attribute__((section(".text$3"), aligned(16), used))
const unsigned char __quorle_delay_import_end[32] = {};
}
