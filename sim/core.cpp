// Call log, fault injection and the ledger.
#include "files.h"
#include "internal.h"
#include "registry.h"
#include "spooler.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace sim {
namespace {

struct Core {
  Settings settings;
  std::vector<Call> calls;
  std::map<std::string, int> callCounts;
  std::vector<Fault> faults;
  std::map<std::string, int> held;
  std::vector<std::string> misuses;
  int callNumber = 0;  // platform calls since the machine started
  int killAt = 0;      // the call that ends the process; 0: none
};

Core& core() {
  static Core instance;
  return instance;
}

bool Matches(const Fault& fault, const std::string& function, int count,
             std::initializer_list<std::string> args) {
  if (fault.function != function)
    return false;
  if (fault.nth != 0 && fault.nth != count)
    return false;
  if (!fault.argument)
    return true;
  return std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
    return detail::SameText(arg, *fault.argument);
  });
}

}  // namespace

void Reset() {
  core() = Core{};
  detail::ResetKernel();
  detail::ResetRegistry();
  detail::ResetShell();
  detail::ResetFiles();
  detail::ResetSecurity();
  detail::ResetSpooler();
  detail::ResetOle();
  detail::ResetCom();
}

Settings& settings() {
  return core().settings;
}

WORD NativeMachine() {
  if (settings().nativeMachine)
    return settings().nativeMachine;
  return settings().wow64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
}

std::string Call::Text() const {
  std::string text = function + "(";
  for (size_t i = 0; i < args.size(); ++i)
    text += (i ? ", " : "") + args[i];
  return text + ")";
}

const std::vector<Call>& Calls() {
  return core().calls;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const Call& call : core().calls)
    names.push_back(call.function);
  return names;
}

std::vector<Call> CallsTo(const std::string& function) {
  std::vector<Call> found;
  for (const Call& call : core().calls)
    if (call.function == function)
      found.push_back(call);
  return found;
}

int CountCalls(const std::string& function) {
  return static_cast<int>(CallsTo(function).size());
}

void ClearCalls() {
  core().calls.clear();
}

void InjectFault(const Fault& fault) {
  core().faults.push_back(fault);
}

void FailNth(const std::string& function, int nth, int64_t result, DWORD lastError) {
  Fault fault;
  fault.function = function;
  fault.nth = nth;
  fault.result = result;
  fault.lastError = lastError;
  InjectFault(fault);
}

void FailWhen(const std::string& function, const std::string& argument, int64_t result,
              DWORD lastError) {
  Fault fault;
  fault.function = function;
  fault.argument = argument;
  fault.result = result;
  fault.lastError = lastError;
  InjectFault(fault);
}

void FailAlways(const std::string& function, int64_t result, DWORD lastError) {
  FailNth(function, 0, result, lastError);
}

std::string Dump() {
  std::string out;
  for (const auto& [prefix, text] : {std::pair{"HKLM ", reg::Dump(HKEY_LOCAL_MACHINE)},
                                     {"HKCU ", reg::Dump(HKEY_CURRENT_USER)},
                                     {"", files::Dump()},
                                     {"", spooler::Dump()}}) {
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      out += prefix + text.substr(start, end - start + 1);
  }
  return out;
}

void KillProcessAt(int call) {
  core().killAt = call > 0 ? core().callNumber + call : 0;
}

void EndProcess() {
  detail::EndProcessKernel();
  detail::EndProcessRegistry();
  detail::EndProcessShell();
  detail::EndProcessFiles();
  detail::EndProcessSecurity();
  detail::EndProcessSpooler();
  detail::EndProcessOle();
  core().held.clear();
  core().killAt = 0;
}

std::string Leaks() {
  std::string report;
  for (const auto& [kind, count] : core().held)
    if (count != 0)
      report += std::to_string(count) + " " + kind + " not released; ";
  for (const std::string& misuse : core().misuses)
    report += misuse + "; ";
  return report;
}

namespace detail {

Hit Enter(const char* function, std::initializer_list<std::string> args) {
  Core& c = core();
  if (++c.callNumber == c.killAt) {
    c.killAt = 0;
    throw ProcessKilled{};
  }
  c.calls.push_back(Call{function, std::vector<std::string>(args)});
  const int count = ++c.callCounts[function];
  for (auto it = c.faults.begin(); it != c.faults.end(); ++it) {
    if (!Matches(*it, function, count, args))
      continue;
    Hit hit{true, it->result, it->status};
    SetLastError(it->lastError);
    if (it->once)
      c.faults.erase(it);
    return hit;
  }
  return Hit{};
}

std::string Str(const char* text) {
  return text ? std::string(text) : "NULL";
}

std::string Str(const WCHAR* text) {
  if (!text)
    return "NULL";
  std::string narrow;
  for (; *text; ++text)
    narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
  return narrow;
}

std::string Num(int64_t number) {
  return std::to_string(number);
}

std::string Hex(uint64_t number) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(number));
  return text;
}

std::string KeyName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE)
    return "HKLM";
  if (key == HKEY_CURRENT_USER)
    return "HKCU";
  if (key == nullptr)
    return "NULL";
  return "key#" + std::to_string(reinterpret_cast<uintptr_t>(key));
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SameText(const std::string& a, const std::string& b) {
  return Lower(a) == Lower(b);
}

void Acquire(const std::string& kind) {
  ++core().held[kind];
}

void Release(const std::string& kind) {
  if (--core().held[kind] < 0)
    Misuse(kind + " released more often than acquired");
}

void Misuse(const std::string& what) {
  core().misuses.push_back(what);
}

}  // namespace detail
}  // namespace sim
