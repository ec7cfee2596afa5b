#include "platform/StallWatch.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>
#include <pthread.h>
#include <vector>

namespace {

constexpr int maxFrames = 64;
constexpr int shownFrames = 24;

// Written by the signal handler on the main thread, read by the watcher once `caught` is set.
void* frames[maxFrames];
std::atomic<int> frameCount{0};
std::atomic<bool> caught{false};
pthread_t mainThread;

int stackSignal() {
    return SIGRTMIN + 6;
}

void onStackSignal(int) {
    const int saved = errno;
    frameCount.store(backtrace(frames, maxFrames), std::memory_order_relaxed);
    caught.store(true, std::memory_order_release);
    errno = saved;
}

qint64 nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QByteArray demangled(const char* name) {
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    const QByteArray out = status == 0 && plain ? QByteArray(plain) : QByteArray(name);
    std::free(plain);
    return out;
}

// The program's own functions, which its dynamic symbols do not name, from the symbol table in its file.
class OwnSymbols {
public:
    OwnSymbols() {
        Dl_info self{};
        if (!dladdr(reinterpret_cast<void*>(&onStackSignal), &self) || !self.dli_fbase)
            return;
        base = quintptr(self.dli_fbase);
        QFile file(QStringLiteral("/proc/self/exe"));
        if (!file.open(QIODevice::ReadOnly))
            return;
        // Mapped, not read: a build with debugging information is large, and only its tables are looked at.
        const auto size = quint64(file.size());
        const uchar* mapped = size ? file.map(0, qint64(size)) : nullptr;
        if (mapped)
            load(reinterpret_cast<const char*>(mapped), size);
    }

    bool holds(const void* fileBase) const { return base && quintptr(fileBase) == base; }

    QByteArray name(quintptr address) const {
        const quint64 at = address - bias;
        auto it =
            std::upper_bound(entries.begin(), entries.end(), at, [](quint64 a, const Entry& e) { return a < e.start; });
        if (it == entries.begin())
            return {};
        --it;
        return at < it->start + it->size ? demangled(it->name.constData()) : QByteArray();
    }

private:
    void load(const char* bytes, quint64 size) {
        if (size < sizeof(Elf64_Ehdr) || std::memcmp(bytes, ELFMAG, SELFMAG) != 0 || bytes[EI_CLASS] != ELFCLASS64)
            return;
        const auto* header = reinterpret_cast<const Elf64_Ehdr*>(bytes);
        // Addresses in the file are relative to its first loaded segment.
        if (header->e_phoff + quint64(header->e_phnum) * sizeof(Elf64_Phdr) > size)
            return;
        const auto* segments = reinterpret_cast<const Elf64_Phdr*>(bytes + header->e_phoff);
        quint64 lowest = ~quint64(0);
        for (int i = 0; i < header->e_phnum; ++i)
            if (segments[i].p_type == PT_LOAD)
                lowest = std::min(lowest, segments[i].p_vaddr & ~quint64(0xfff));
        if (lowest == ~quint64(0))
            return;
        bias = base - lowest;
        if (header->e_shoff + quint64(header->e_shnum) * sizeof(Elf64_Shdr) > size)
            return;
        const auto* sections = reinterpret_cast<const Elf64_Shdr*>(bytes + header->e_shoff);
        for (int i = 0; i < header->e_shnum; ++i) {
            const Elf64_Shdr& table = sections[i];
            if (table.sh_type != SHT_SYMTAB || table.sh_link >= header->e_shnum)
                continue;
            const Elf64_Shdr& strings = sections[table.sh_link];
            if (table.sh_offset + table.sh_size > size || strings.sh_offset + strings.sh_size > size)
                continue;
            const auto* symbols = reinterpret_cast<const Elf64_Sym*>(bytes + table.sh_offset);
            for (quint64 k = 0; k < table.sh_size / sizeof(Elf64_Sym); ++k) {
                const Elf64_Sym& s = symbols[k];
                if (ELF64_ST_TYPE(s.st_info) != STT_FUNC || !s.st_value || s.st_name >= strings.sh_size)
                    continue;
                const char* name = bytes + strings.sh_offset + s.st_name;
                entries.push_back({s.st_value, std::max<quint64>(s.st_size, 1),
                                   QByteArray(name, int(qstrnlen(name, strings.sh_size - s.st_name)))});
            }
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.start < b.start; });
    }

    struct Entry {
        quint64 start, size;
        QByteArray name;
    };
    quintptr base = 0;
    quintptr bias = 0;
    std::vector<Entry> entries;
};

// One line per frame, from the interrupted function outwards, up to main.
QByteArray describe(void* const* stack, int count) {
    // Read once, on the watcher's thread, and never freed: the watcher may still run while exit() ends the process.
    static const OwnSymbols& own = *new OwnSymbols;
    QByteArray out;
    int shown = 0;
    // The first two frames are the handler and the kernel's return from it.
    for (int i = 2; i < count && shown < shownFrames; ++i, ++shown) {
        // A return address points past its call: look up the call itself.
        const quintptr address = quintptr(stack[i]) - (i > 2 ? 1 : 0);
        Dl_info info{};
        QByteArray name;
        if (dladdr(reinterpret_cast<void*>(address), &info)) {
            if (info.dli_sname)
                name = demangled(info.dli_sname);
            else if (own.holds(info.dli_fbase))
                name = own.name(address);
            if (name.isEmpty()) {
                QByteArray file = info.dli_fname ? QByteArray(info.dli_fname) : QByteArray("?");
                file = file.mid(file.lastIndexOf('/') + 1);
                name = file + "+0x" + QByteArray::number(quint64(address - quintptr(info.dli_fbase)), 16);
            }
        } else {
            name = "0x" + QByteArray::number(quint64(address), 16);
        }
        out += "    #" + QByteArray::number(shown) + ' ' + name + '\n';
        if (name == "main")
            break;
    }
    return out;
}

} // namespace

std::unique_ptr<StallWatch> StallWatch::fromEnvironment() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("PICTOLARIUM_STALL_WATCH", &ok);
    return ok && ms > 0 ? std::make_unique<StallWatch>(ms) : nullptr;
}

StallWatch::StallWatch(int thresholdMs)
    : threshold(thresholdMs), timer(new QTimer(this)), lastBeat(nowMs()), lastTick(lastBeat.load()) {
    mainThread = pthread_self();
    void* warm[2];
    backtrace(warm, 2); // its first call loads the unwinder, which a signal handler must not
    struct sigaction action {};
    action.sa_handler = onStackSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(stackSignal(), &action, nullptr);

    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(beatMs);
    connect(timer, &QTimer::timeout, this, [this] { beat(false); });
    // The loop's first turn ends the launch; what the program posts for that turn (its own start) comes after
    // this and is watched as any later work is.
    QTimer::singleShot(0, this, [this] {
        beat(true);
        timer->start();
    });
    watcher = std::thread([this] { watch(); });
}

StallWatch::~StallWatch() {
    stopping = true;
    if (watcher.joinable())
        watcher.join();
}

void StallWatch::beat(bool launch) {
    const qint64 now = nowMs();
    notePause(now);
    // Time the whole process was held (stopped, or the machine gave it no turn) is no stall of the loop. The
    // launch is due at once, a beat only once its interval is over.
    const qint64 stall = now - lastBeat.load() - (launch ? 0 : beatMs) - heldMs.exchange(0);
    const quint64 n = beats.load();
    lastBeat = now;
    beats = n + 1;
    if (stall <= threshold)
        return;
    QByteArray stack;
    {
        std::lock_guard<std::mutex> hold(pendingLock);
        if (pendingBeat == n)
            stack = pendingStack;
    }
    QByteArray report = "pictolarium: stall of " + QByteArray::number(stall) + " ms" +
                        (launch ? " during start-up" : "") + "; the main thread was in:\n" +
                        (stack.isEmpty() ? QByteArray("    (not caught)\n") : stack);
    std::fwrite(report.constData(), 1, size_t(report.size()), stderr);
    std::fflush(stderr);
}

bool StallWatch::notePause(qint64 now) {
    // The watcher wakes every few milliseconds; a long gap since its last turn means neither thread ran. Whichever
    // thread sees the gap first counts it, once.
    qint64 last = lastTick.load();
    if (capturing || now - last <= pauseMs || !lastTick.compare_exchange_strong(last, now))
        return false;
    heldMs += now - last - tickMs;
    return true;
}

void StallWatch::watch() {
    quint64 caughtAfter = ~quint64(0);
    while (!stopping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(tickMs));
        const qint64 now = nowMs();
        if (notePause(now))
            continue;
        lastTick = now;
        const quint64 n = beats.load();
        const qint64 late = now - lastBeat.load() - beatMs;
        if (late <= threshold || caughtAfter == n || beats.load() != n)
            continue;
        caughtAfter = n;
        caught = false;
        capturing = true;
        if (pthread_kill(mainThread, stackSignal()) != 0) {
            capturing = false;
            continue;
        }
        while (!caught.load(std::memory_order_acquire) && nowMs() - now < 500 && !stopping)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (caught.load(std::memory_order_acquire)) {
            const QByteArray stack = describe(frames, frameCount.load(std::memory_order_relaxed));
            std::lock_guard<std::mutex> hold(pendingLock);
            pendingBeat = n;
            pendingStack = stack;
        }
        lastTick = nowMs(); // the wait and the first symbol lookup are no pause
        capturing = false;
    }
}
