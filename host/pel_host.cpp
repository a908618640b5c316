// SPDX-License-Identifier: BSD-2-Clause
// The stand-in Pellarion host: module, translator and CLI registries, translator instances,
// outgoing frames, logging. The operations modules call are exported from the host program
// with C linkage; everything else is the host program's own.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <pellarion/pel_host.h>
#include "host/pel_host_control.h"

// The host's record of a registered module.
struct pel_module {
    pel_module_info* info;
};

namespace pelhost {

struct LoadedModule {
    void* dl = nullptr;
    pel_module_info* info = nullptr;
    std::string path;
};

namespace {

const pel_format slin_format{"slin", PEL_MEDIA_TYPE_AUDIO, 8000};
const pel_format g729_format{"g729", PEL_MEDIA_TYPE_AUDIO, 8000};

const pel_format* format_by_name(const char* name) {
    if (name == nullptr) return nullptr;
    if (std::strcmp(name, slin_format.name) == 0) return &slin_format;
    if (std::strcmp(name, g729_format.name) == 0) return &g729_format;
    return nullptr;
}

// Registries. One lock guards them all; registration is rare and never on a frame path.
struct Registry {
    std::mutex lock;
    std::vector<pel_module*> modules;
    std::vector<pel_translator*> translators;
    std::vector<pel_cli_entry*> cli;
    std::vector<std::string> events;
    std::map<std::string, int> forced_translator_results;
};

// Never destroyed: a module still loaded when the program exits unregisters itself from its
// destructor, which runs after the program's static objects are gone.
Registry& registry() {
    static Registry& r = *new Registry;
    return r;
}

// Modules registered by constructors running inside a dlopen call on this thread.
thread_local std::vector<pel_module*> t_registered_during_open;

struct LogState {
    std::mutex lock;
    LogSink sink = nullptr;
    void* user = nullptr;
};

// Never destroyed, for the same reason as the registry: modules may log while unloading.
LogState& log_state() {
    static LogState& s = *new LogState;
    return s;
}

void host_log(int level, const char* function, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

void host_log(int level, const char* function, const char* fmt, ...) {
    char message[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    pel_log(level, "pelhost", 0, function, "%s", message);
}

bool module_is_registered(const Registry& r, const pel_module* m) {
    return m != nullptr && std::find(r.modules.begin(), r.modules.end(), m) != r.modules.end();
}

const char* module_name(const pel_module* m) {
    return (m != nullptr && m->info != nullptr && m->info->name != nullptr) ? m->info->name : "?";
}

// Splits a command line into words.
std::vector<std::string> words_of(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

}  // namespace

// ---- Logging ----

void set_log_sink(LogSink sink, void* user) {
    LogState& s = log_state();
    std::lock_guard<std::mutex> g(s.lock);
    s.sink = sink;
    s.user = user;
}

const char* log_level_name(int level) {
    switch (level) {
        case PEL_LOG_DEBUG: return "DEBUG";
        case PEL_LOG_VERBOSE: return "VERBOSE";
        case PEL_LOG_NOTICE: return "NOTICE";
        case PEL_LOG_ERROR: return "ERROR";
        default: return "LOG";
    }
}

// ---- Event journal ----

std::vector<std::string> events() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.events;
}

void clear_events() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.events.clear();
}

void set_translator_registration_result(const std::string& name, int result) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (result == 0) {
        r.forced_translator_results.erase(name);
    } else {
        r.forced_translator_results[name] = result;
    }
}

// ---- Modules ----

namespace {

// Drops whatever a module left registered; its records are about to disappear.
void drop_leftovers(pel_module* m) {
    Registry& r = registry();
    std::vector<std::string> dropped;
    {
        std::lock_guard<std::mutex> g(r.lock);
        for (auto it = r.translators.begin(); it != r.translators.end();) {
            if ((*it)->module == m) {
                dropped.push_back(std::string("translator ") + (*it)->name);
                it = r.translators.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = r.cli.begin(); it != r.cli.end();) {
            if ((*it)->module == m) {
                dropped.push_back(std::string("cli ") + ((*it)->command ? (*it)->command : "?"));
                it = r.cli.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const std::string& d : dropped) {
        host_log(PEL_LOG_ERROR, "unregister_module", "module left %s registered; dropped\n",
                 d.c_str());
    }
}

bool entry_matches_export(void* dl, const char* symbol, int (*entry)(void)) {
    void* exported = dlsym(dl, symbol);
    return exported != nullptr && exported == reinterpret_cast<void*>(entry);
}

}  // namespace

LoadedModule* load_module_file(const std::string& path, std::string* error, int* load_result) {
    if (load_result != nullptr) *load_result = 0;
    t_registered_during_open.clear();
    void* dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (dl == nullptr) {
        const char* why = dlerror();
        *error = std::string("cannot open module: ") + (why ? why : path);
        return nullptr;
    }
    if (t_registered_during_open.empty()) {
        dlclose(dl);
        *error = "module " + path + " did not register itself when opened";
        return nullptr;
    }
    pel_module_info* info = t_registered_during_open.front()->info;
    t_registered_during_open.clear();

    // The registered entry points must be the ones the file exports under their names.
    if (!entry_matches_export(dl, "load_module", info->load) ||
        !entry_matches_export(dl, "unload_module", info->unload) ||
        !entry_matches_export(dl, "reload_module", info->reload)) {
        dlclose(dl);
        *error = "module " + path +
                 " does not export load_module, unload_module and reload_module as registered";
        return nullptr;
    }

    const int result = info->load();
    if (result != 0) {
        if (load_result != nullptr) *load_result = result;
        dlclose(dl);
        *error = "module " + path + " failed to load (result " + std::to_string(result) + ")";
        return nullptr;
    }
    auto* m = new LoadedModule;
    m->dl = dl;
    m->info = info;
    m->path = path;
    return m;
}

int unload_module(LoadedModule* module) {
    const int result = module->info->unload();
    pel_module_info* info = module->info;
    pel_module* record = info->self;
    dlclose(module->dl);
    delete module;

    // After the file is closed its destructor must have unregistered the module.
    Registry& r = registry();
    bool still_registered;
    {
        std::lock_guard<std::mutex> g(r.lock);
        still_registered = module_is_registered(r, record);
    }
    if (still_registered) {
        host_log(PEL_LOG_ERROR, "unload_module", "module stayed registered after its file closed\n");
        return -1;
    }
    return result;
}

int reload_module(LoadedModule* module) { return module->info->reload(); }

const pel_module_info* module_info(const LoadedModule* module) { return module->info; }

int registered_module_count() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    return static_cast<int>(r.modules.size());
}

// ---- Translators ----

pel_translator* find_translator(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    for (pel_translator* t : r.translators) {
        if (name == t->name) return t;
    }
    return nullptr;
}

std::vector<pel_translator*> registered_translators() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.translators;
}

namespace {

constexpr std::size_t kAlign = 16;

std::size_t round_up(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

}  // namespace

pel_trans_pvt* new_instance(pel_translator* t) {
    const std::size_t head = round_up(sizeof(pel_trans_pvt));
    const std::size_t priv = round_up(t->desc_size);
    const std::size_t total = head + priv + round_up(static_cast<std::size_t>(t->buf_size));
    // calloc returns storage aligned for any scalar type; the parts start on 16-byte bounds.
    auto* block = static_cast<unsigned char*>(std::calloc(1, total));
    if (block == nullptr) return nullptr;
    auto* pvt = reinterpret_cast<pel_trans_pvt*>(block);
    pvt->t = t;
    pvt->pvt = t->desc_size != 0 ? block + head : nullptr;
    pvt->outbuf.uc = block + head + priv;
    pvt->samples = 0;
    pvt->datalen = 0;
    if (t->newpvt(pvt) != 0) {
        std::free(block);
        return nullptr;
    }
    return pvt;
}

void free_instance(pel_trans_pvt* pvt) {
    if (pvt == nullptr) return;
    if (pvt->t->destroy != nullptr) pvt->t->destroy(pvt);
    std::free(pvt);
}

int framein(pel_trans_pvt* pvt, pel_frame* in) { return pvt->t->framein(pvt, in); }

pel_frame* frameout(pel_trans_pvt* pvt) {
    return pvt->t->frameout != nullptr ? pvt->t->frameout(pvt) : pel_trans_default_frameout(pvt);
}

// ---- CLI ----

pel_cli_entry* find_cli_command(const std::string& command) {
    const std::vector<std::string> want = words_of(command);
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    for (pel_cli_entry* e : r.cli) {
        if (words_of(e->command) == want) return e;
    }
    return nullptr;
}

std::vector<std::string> cli_commands() {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    std::vector<std::string> out;
    for (const pel_cli_entry* e : r.cli) out.emplace_back(e->command);
    return out;
}

namespace {

// The first failed write of command output: pel_cli is void, as modules expect.
std::atomic<int> cli_write_errno{0};

}  // namespace

int cli_write_error() { return cli_write_errno.load(); }

int run_cli(const std::string& line, int fd) {
    cli_write_errno.store(0);
    const std::vector<std::string> words = words_of(line);
    // The longest registered command whose words start the line; the rest are arguments.
    pel_cli_entry* best = nullptr;
    std::size_t best_len = 0;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        for (pel_cli_entry* e : r.cli) {
            const std::vector<std::string> cw = words_of(e->command);
            if (cw.empty() || cw.size() > words.size() || cw.size() <= best_len) continue;
            if (std::equal(cw.begin(), cw.end(), words.begin())) {
                best = e;
                best_len = cw.size();
            }
        }
    }
    if (best == nullptr) return -1;
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    pel_cli_args args{fd, static_cast<int>(words.size()), argv.data(), line.c_str()};
    return best->handler(best, PEL_CLI_HANDLER, &args) == PEL_CLI_SUCCESS ? 0 : 1;
}

}  // namespace pelhost

// ---- Operations exported to modules ----

using pelhost::registry;

extern "C" {

const pel_format* pel_format_slin = &pelhost::slin_format;
const pel_format* pel_format_g729 = &pelhost::g729_format;

void pel_module_register(pel_module_info* info) {
    auto* m = new pel_module{info};
    {
        auto& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        r.modules.push_back(m);
        r.events.push_back(std::string("register module ") + pelhost::module_name(m));
    }
    info->self = m;
    pelhost::t_registered_during_open.push_back(m);
}

void pel_module_unregister(pel_module_info* info) {
    pel_module* found = nullptr;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        auto it = std::find_if(r.modules.begin(), r.modules.end(),
                               [info](const pel_module* m) { return m->info == info; });
        if (it == r.modules.end()) {
            r.events.push_back("unregister module (unknown)");
            return;
        }
        found = *it;
        r.modules.erase(it);
        r.events.push_back(std::string("unregister module ") + pelhost::module_name(found));
    }
    pelhost::drop_leftovers(found);
    info->self = nullptr;
    delete found;
}

int __pel_register_translator(pel_translator* t, pel_module* module) {
    auto& r = registry();
    std::unique_lock<std::mutex> g(r.lock);
    std::string event = std::string("register translator ") + t->name;
    auto forced = r.forced_translator_results.find(t->name);
    if (forced != r.forced_translator_results.end()) {
        r.events.push_back(event + " failed " + std::to_string(forced->second));
        return forced->second;
    }
    const char* problem = nullptr;
    const pel_format* dst = pelhost::format_by_name(t->format);
    if (!pelhost::module_is_registered(r, module)) {
        problem = "unknown module handle";
    } else if (t->name[0] == '\0' || t->newpvt == nullptr || t->framein == nullptr) {
        problem = "incomplete translator record";
    } else if (t->buf_size <= 0 || t->buffer_samples <= 0) {
        problem = "no buffer declared";
    } else if (dst == nullptr || pelhost::format_by_name(t->src_codec.name) == nullptr ||
               pelhost::format_by_name(t->dst_codec.name) != dst) {
        problem = "unknown format";
    } else {
        for (const pel_translator* other : r.translators) {
            if (other == t || std::strcmp(other->name, t->name) == 0) problem = "already registered";
        }
    }
    if (problem != nullptr) {
        r.events.push_back(event + " failed -1");
        g.unlock();
        pelhost::host_log(PEL_LOG_ERROR, "__pel_register_translator", "%s: %s\n", t->name, problem);
        return -1;
    }
    t->module = module;
    t->dst_format = dst;
    t->active = 1;
    r.translators.push_back(t);
    r.events.push_back(event);
    return 0;
}

int pel_unregister_translator(pel_translator* t) {
    auto& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = std::find(r.translators.begin(), r.translators.end(), t);
    if (it == r.translators.end()) {
        r.events.push_back(std::string("unregister translator ") + t->name + " (not registered)");
        return -1;
    }
    r.translators.erase(it);
    t->active = 0;
    t->module = nullptr;
    r.events.push_back(std::string("unregister translator ") + t->name);
    return 0;
}

pel_frame* pel_trans_frameout(pel_trans_pvt* pvt, int datalen, int samples) {
    if (samples == 0) {
        if (pvt->samples <= 0) return nullptr;
        samples = pvt->samples;
        pvt->samples = 0;
    }
    if (datalen == 0) {
        datalen = pvt->datalen;
        pvt->datalen = 0;
    }
    if (samples < 0 || datalen < 0 || datalen > pvt->t->buf_size) {
        pel_log(PEL_LOG_ERROR, "pelhost", __LINE__, __func__,
                "%s: frame of %d bytes, %d samples does not fit a %d-byte buffer\n", pvt->t->name,
                datalen, samples, pvt->t->buf_size);
        return nullptr;
    }
    pel_frame& f = pvt->f;
    f.frametype = PEL_FRAME_VOICE;
    f.format = pvt->t->dst_format;
    f.datalen = datalen;
    f.samples = samples;
    f.src = pvt->t->name;
    f.data = pvt->outbuf.c;
    f.mallocd = 0;
    f.offset = 0;
    return &f;
}

pel_frame* pel_trans_default_frameout(pel_trans_pvt* pvt) { return pel_trans_frameout(pvt, 0, 0); }

void pel_log(int level, const char* file, int line, const char* function, const char* fmt, ...) {
    // Formatted on the stack: logging allocates nothing.
    char message[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);

    pelhost::LogState& s = pelhost::log_state();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.sink != nullptr) {
        s.sink(s.user, level, file, line, function, message);
        return;
    }
    const std::size_t n = std::strlen(message);
    const bool has_newline = n > 0 && message[n - 1] == '\n';
    std::fprintf(stderr, "%s[%s:%d] %s: %s%s", pelhost::log_level_name(level), file, line, function,
                 message, has_newline ? "" : "\n");
}

int __pel_cli_register_multiple(pel_cli_entry* e, int len, pel_module* module) {
    int result = 0;
    for (int i = 0; i < len; ++i) {
        pel_cli_entry* entry = &e[i];
        entry->handler(entry, PEL_CLI_INIT, nullptr);  // the handler fills command and usage
        auto& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        const char* command = entry->command != nullptr ? entry->command : "";
        bool ok = command[0] != '\0' && pelhost::module_is_registered(r, module);
        for (const pel_cli_entry* other : r.cli) {
            if (other == entry || pelhost::words_of(other->command) == pelhost::words_of(command)) {
                ok = false;
            }
        }
        if (!ok) {
            r.events.push_back(std::string("register cli ") + command + " failed -1");
            result = -1;
            continue;
        }
        entry->module = module;
        entry->registered = 1;
        r.cli.push_back(entry);
        r.events.push_back(std::string("register cli ") + command);
    }
    return result;
}

int pel_cli_unregister_multiple(pel_cli_entry* e, int len) {
    int result = 0;
    auto& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    for (int i = 0; i < len; ++i) {
        pel_cli_entry* entry = &e[i];
        const char* command = entry->command != nullptr ? entry->command : "";
        auto it = std::find(r.cli.begin(), r.cli.end(), entry);
        if (it == r.cli.end()) {
            r.events.push_back(std::string("unregister cli ") + command + " (not registered)");
            result = -1;
            continue;
        }
        r.cli.erase(it);
        entry->registered = 0;
        entry->module = nullptr;
        r.events.push_back(std::string("unregister cli ") + command);
    }
    return result;
}

void pel_cli(int fd, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n <= 0) {
        va_end(again);
        return;
    }
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, again);
    va_end(again);
    std::size_t left = static_cast<std::size_t>(n);
    const char* p = text.data();
    while (left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            int none = 0;
            pelhost::cli_write_errno.compare_exchange_strong(none, w < 0 ? errno : EIO);
            return;
        }
        p += w;
        left -= static_cast<std::size_t>(w);
    }
}

}  // extern "C"
