// SPDX-License-Identifier: BSD-2-Clause
// The host program's side of the Pellarion stand-in: loading module files, creating and
// driving translator instances, running CLI commands, and the hooks tests use (log capture,
// an event journal, forced registration failures). Modules never include this header.
#pragma once

#include <string>
#include <vector>

#include <pellarion/pel_host.h>

namespace pelhost {

// ---- Logging ----

// Receives every pel_log line with the message already formatted. Called on the logging
// thread; must not throw.
using LogSink = void (*)(void* user, int level, const char* file, int line, const char* function,
                         const char* message);

// Replaces the sink; nullptr restores the default, which writes to stderr.
void set_log_sink(LogSink sink, void* user);

const char* log_level_name(int level);

// ---- Event journal ----

// Registration calls in the order the host saw them, e.g. "register translator lintog729".
std::vector<std::string> events();
void clear_events();

// Makes the next registrations of the named translator fail with the given non-zero result;
// 0 clears the failure.
void set_translator_registration_result(const std::string& name, int result);

// ---- Modules ----

struct LoadedModule;

// Opens the module file, lets its constructor register it and calls its load entry.
// Returns nullptr with a message in *error when any step fails; a module whose load entry
// fails is closed again and its result is stored in *load_result.
LoadedModule* load_module_file(const std::string& path, std::string* error,
                               int* load_result = nullptr);

// Calls the module's unload entry and closes the file. Returns the unload entry's result, or
// -1 when the module did not unregister itself when its file was closed.
int unload_module(LoadedModule* module);

int reload_module(LoadedModule* module);

const pel_module_info* module_info(const LoadedModule* module);

// Number of module records currently registered with the host.
int registered_module_count();

// ---- Translators ----

pel_translator* find_translator(const std::string& name);
std::vector<pel_translator*> registered_translators();

// Creates an instance: one block with the instance record, the private record and the output
// buffer, then runs the translator's set-up operation. nullptr when the set-up fails.
pel_trans_pvt* new_instance(pel_translator* t);
// Frees an instance; calls the translator's tear-down operation only if it declares one.
void free_instance(pel_trans_pvt* pvt);

int framein(pel_trans_pvt* pvt, pel_frame* in);
// The translator's own frame-out, or the host default when it declares none.
pel_frame* frameout(pel_trans_pvt* pvt);

// ---- CLI ----

pel_cli_entry* find_cli_command(const std::string& command);
std::vector<std::string> cli_commands();

// Runs a command line, writing its output to fd. 0 on success, -1 when no command matches,
// 1 when the handler reports failure.
int run_cli(const std::string& line, int fd);
// The errno of the first write of command output (pel_cli) that failed since run_cli began;
// 0 when all of it was written.
int cli_write_error();

}  // namespace pelhost
