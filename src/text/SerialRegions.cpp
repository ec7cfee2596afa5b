#include "text/SerialRegions.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <iterator>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

// The engine's network runs every step of every layer as an OpenMP parallel region. Even on a team
// of one thread the runtime ends each region with a system call to wake the team's other members:
// thousands of calls per line read. Where the engine's library takes its regions from the runtime
// through its import table, and every OpenMP entry it imports is one handled here, a region
// outside any team runs on the calling thread directly, its sections one after the other; inside
// a team (a caller's own parallel region) the runtime still runs it.
namespace TextVision::SerialRegions {

namespace {

using Region = void (*)(void (*)(void*), void*, unsigned, unsigned);
using SectionsRegion = void (*)(void (*)(void*), void*, unsigned, unsigned, unsigned);

struct Runtime {
    Region region = nullptr;
    SectionsRegion sections = nullptr;
    unsigned (*next)() = nullptr;
    void (*end)() = nullptr;
    int (*level)() = nullptr;
} runtime;

// The sections region this thread runs itself, if any.
struct Sections {
    unsigned next, count;
};
thread_local Sections* current = nullptr;

void runHere(void (*body)(void*), void* data, unsigned threads, unsigned flags) {
    Sections* const outer = std::exchange(current, nullptr);
    if (runtime.level() > 0)
        runtime.region(body, data, threads, flags);
    else
        body(data);
    current = outer;
}

void runSectionsHere(void (*body)(void*), void* data, unsigned threads, unsigned count, unsigned flags) {
    Sections* const outer = std::exchange(current, nullptr);
    if (runtime.level() > 0) {
        runtime.sections(body, data, threads, count, flags);
    } else {
        Sections own{1, count};
        current = &own;
        body(data);
    }
    current = outer;
}

// The next section to run, 0 when all have run.
unsigned nextSection() {
    if (!current)
        return runtime.next();
    return current->next <= current->count ? current->next++ : 0;
}

void endSections() {
    if (!current)
        runtime.end();
}

struct Import {
    const char* name;
    void* replacement;
};
const Import imports[] = {{"GOMP_parallel", reinterpret_cast<void*>(&runHere)},
                          {"GOMP_parallel_sections", reinterpret_cast<void*>(&runSectionsHere)},
                          {"GOMP_sections_next", reinterpret_cast<void*>(&nextSection)},
                          {"GOMP_sections_end_nowait", reinterpret_cast<void*>(&endSections)}};

struct Search {
    std::vector<std::pair<void**, void*>> entries;
    bool found = false, safe = true;
    uintptr_t relroFrom = 0, relroTo = 0;
};

#if __ELF_NATIVE_CLASS == 64
size_t symbolOf(ElfW(Xword) info) {
    return ELF64_R_SYM(info);
}
#else
size_t symbolOf(ElfW(Word) info) {
    return ELF32_R_SYM(info);
}
#endif

template <typename T> T address(ElfW(Addr) value, ElfW(Addr) base) {
    // The loader has made most dynamic entries absolute; some systems leave them relative.
    return reinterpret_cast<T>(value < base ? value + base : value);
}

int findSlots(dl_phdr_info* info, size_t, void* context) {
    auto& search = *static_cast<Search*>(context);
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "/libtesseract.so"))
        return 0;
    search.found = true;
    const ElfW(Dyn)* dynamic = nullptr;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_DYNAMIC)
            dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + header.p_vaddr);
        if (header.p_type == PT_GNU_RELRO) {
            search.relroFrom = info->dlpi_addr + header.p_vaddr;
            search.relroTo = search.relroFrom + header.p_memsz;
        }
    }
    const ElfW(Sym)* symbols = nullptr;
    const char* names = nullptr;
    const ElfW(Rela) * tables[2] = {nullptr, nullptr};
    size_t sizes[2] = {0, 0};
    bool rela = true;
    for (const ElfW(Dyn)* d = dynamic; d && d->d_tag != DT_NULL; ++d) {
        const ElfW(Addr) base = info->dlpi_addr;
        switch (d->d_tag) {
        case DT_SYMTAB:
            symbols = address<const ElfW(Sym)*>(d->d_un.d_ptr, base);
            break;
        case DT_STRTAB:
            names = address<const char*>(d->d_un.d_ptr, base);
            break;
        case DT_JMPREL:
            tables[0] = address<const ElfW(Rela)*>(d->d_un.d_ptr, base);
            break;
        case DT_PLTRELSZ:
            sizes[0] = d->d_un.d_val;
            break;
        case DT_RELA:
            tables[1] = address<const ElfW(Rela)*>(d->d_un.d_ptr, base);
            break;
        case DT_RELASZ:
            sizes[1] = d->d_un.d_val;
            break;
        case DT_PLTREL:
            rela = rela && d->d_un.d_val == DT_RELA;
            break;
        case DT_REL:
            rela = false;
            break;
        default:
            break;
        }
    }
    if (!symbols || !names || !rela) {
        search.safe = false;
        return 1;
    }
    for (int t = 0; t < 2; ++t)
        for (size_t i = 0; tables[t] && i < sizes[t] / sizeof(ElfW(Rela)); ++i) {
            const ElfW(Rela)& entry = tables[t][i];
            const size_t symbol = symbolOf(entry.r_info);
            const char* name = names + symbols[symbol].st_name;
            if (symbol == 0 || std::strncmp(name, "GOMP_", 5) != 0)
                continue;
            const auto known = std::find_if(std::begin(imports), std::end(imports),
                                            [name](const Import& i) { return std::strcmp(name, i.name) == 0; });
            if (known == std::end(imports))
                search.safe = false;
            else
                search.entries.emplace_back(reinterpret_cast<void**>(info->dlpi_addr + entry.r_offset),
                                            known->replacement);
        }
    return 1;
}

} // namespace

// Points the engine's imports of parallel regions at the stand-ins; false where that cannot be done safely.
bool install() {
    runtime.region = reinterpret_cast<Region>(dlsym(RTLD_DEFAULT, "GOMP_parallel"));
    runtime.sections = reinterpret_cast<SectionsRegion>(dlsym(RTLD_DEFAULT, "GOMP_parallel_sections"));
    runtime.next = reinterpret_cast<unsigned (*)()>(dlsym(RTLD_DEFAULT, "GOMP_sections_next"));
    runtime.end = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "GOMP_sections_end_nowait"));
    runtime.level = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "omp_get_level"));
    if (!runtime.region || !runtime.sections || !runtime.next || !runtime.end || !runtime.level)
        return false;
    Search search;
    dl_iterate_phdr(findSlots, &search);
    if (!search.found || !search.safe || search.entries.empty())
        return false;
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    for (const auto& [slot, replacement] : search.entries) {
        const auto at = reinterpret_cast<uintptr_t>(slot);
        // Read-only after loading where the library asked for it: opened for the one write.
        const bool readOnly = at >= search.relroFrom && at < search.relroTo;
        void* start = reinterpret_cast<void*>(at & ~(page - 1));
        const size_t length = (at + sizeof(void*) + page - 1) / page * page - (at & ~(page - 1));
        if (readOnly && mprotect(start, length, PROT_READ | PROT_WRITE) != 0)
            return false;
        __atomic_store_n(slot, replacement, __ATOMIC_RELEASE);
        if (readOnly)
            mprotect(start, length, PROT_READ);
    }
    return true;
}

} // namespace TextVision::SerialRegions
