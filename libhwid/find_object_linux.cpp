// The portable libhwid carries GCC's unwinder inside (libgcc_eh), and GCC 12's
// finds a frame's unwind tables only through _dl_find_object, which the C
// library has had since 2.35 alone. Defined here, inside the library (hidden,
// as everything but hwid.h is), it answers for the unwinder from the program
// headers, through dl_iterate_phdr, which every C library has: the library
// then loads where glibc 2.34 is all there is. The unwinder reads only
// dlfo_eh_frame, the object's PT_GNU_EH_FRAME segment.
#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>

namespace {

struct Search {
    std::uintptr_t address;
    dl_find_object* found;
};

int find(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    std::uintptr_t start = UINTPTR_MAX, end = 0;
    bool inside = false;
    void* eh_frame = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        const std::uintptr_t from = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD) {
            const std::uintptr_t to = from + segment.p_memsz;
            start = from < start ? from : start;
            end = to > end ? to : end;
            inside = inside || (search->address >= from && search->address < to);
        } else if (segment.p_type == DLFO_EH_SEGMENT_TYPE) {
            eh_frame = reinterpret_cast<void*>(from);
        }
    }
    if (!inside) return 0;
    std::memset(search->found, 0, sizeof *search->found);
    search->found->dlfo_map_start = reinterpret_cast<void*>(start);
    search->found->dlfo_map_end = reinterpret_cast<void*>(end);
    search->found->dlfo_eh_frame = eh_frame;
    return 1;
}

}  // namespace

extern "C" int _dl_find_object(void* address, dl_find_object* result) noexcept {
    Search search{reinterpret_cast<std::uintptr_t>(address), result};
    return dl_iterate_phdr(find, &search) == 1 ? 0 : -1;
}
