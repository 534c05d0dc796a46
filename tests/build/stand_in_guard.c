/* A program without any C runtime, for clang --target=<arch>-pc-windows-msvc and lld-link:
 * the stand-in whose control-flow guard and CET bits the hardening check reads. It carries
 * the load configuration that the Visual C++ runtime would bring; lld-link fills its guard
 * fields through the symbols it defines when it links with /guard:cf. */
typedef unsigned long long u64;
typedef unsigned int u32;
typedef unsigned short u16;

extern char __guard_fids_table, __guard_fids_count, __guard_flags;

static void check_icall(void) {}
void (*__guard_check_icall_fptr)(void) = check_icall;
void (*__guard_dispatch_icall_fptr)(void) = check_icall;

/* IMAGE_LOAD_CONFIG_DIRECTORY64 up to GuardFlags and its successors. */
struct load_config {
    u32 size, time_date_stamp;
    u16 major_version, minor_version;
    u32 global_flags_clear, global_flags_set, critical_section_timeout;
    u64 decommit_free_block, decommit_total_free, lock_prefix_table, maximum_allocation_size,
        virtual_memory_threshold, process_affinity_mask;
    u32 process_heap_flags;
    u16 csd_version, dependent_load_flags;
    u64 edit_list, security_cookie, se_handler_table, se_handler_count,
        guard_cf_check_function_pointer, guard_cf_dispatch_function_pointer,
        guard_cf_function_table, guard_cf_function_count;
    /* GuardFlags, then the first half of CodeIntegrity, which stays zero: one 64-bit field,
     * because C cannot narrow a symbol's address to 32 bits in an initializer. */
    u64 guard_flags;
    u32 code_integrity[2];
    u64 reserved[4];
};

static u64 security_cookie = 0x2B992DDFA232u;

const struct load_config _load_config_used = {
    .size = sizeof(struct load_config),
    .security_cookie = (u64)&security_cookie,
    .guard_cf_check_function_pointer = (u64)&__guard_check_icall_fptr,
    .guard_cf_dispatch_function_pointer = (u64)&__guard_dispatch_icall_fptr,
    .guard_cf_function_table = (u64)&__guard_fids_table,
    .guard_cf_function_count = (u64)&__guard_fids_count,
    .guard_flags = (u64)&__guard_flags,
};

int entry(void) {
    return 0;
}
