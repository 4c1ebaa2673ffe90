// krvpack list and krvpack verify.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "console.h"
#include "commands.h"
#include "cp1251.h"
#include "inspect.h"
#include "section_reader.h"
#include "signature.h"

namespace {

using nlohmann::json;

std::string utf8(const std::string& cp1251) { return cp1251_to_utf8(cp1251); }

size_t display_width(const std::string& text) {
  size_t width = 0;
  for (char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

std::string padded(const std::string& text, size_t width) {
  size_t have = display_width(text);
  return have >= width ? text : text + std::string(width - have, ' ');
}

std::string ratio_text(const EntryReport& e) {
  if (e.size == 0) return "-";
  return std::to_string(static_cast<uint64_t>(e.stored_size) * 100 / e.size) + "%";
}

void print_entries(const PackageReport& report) {
  size_t name_width = 4;
  for (const EntryReport& e : report.entries) name_width = std::max(name_width, display_width(utf8(e.name)));
  printf_out("%s  %10s  %10s  %5s  %-7s  %s\n", padded("NAME", name_width).c_str(), "SIZE", "STORED",
         "RATIO", "STORAGE", "PATH");
  for (const EntryReport& e : report.entries) {
    printf_out("%s  %10u  %10u  %5s  %-7s  %s\n", padded(utf8(e.name), name_width).c_str(), e.size,
           e.stored_size, ratio_text(e).c_str(), e.compressed ? "zlib" : "plain",
           utf8(e.path).c_str());
  }
}

const char* cut_note(bool complete) { return complete ? "" : "  (breaks off before its end)"; }

void print_list(const char* name, const ListReport& list) {
  if (!list.present) return;
  printf_out("%s%s\n", name, cut_note(list.complete));
  for (const std::string& item : list.items) printf_out("  %s\n", utf8(item).c_str());
}

void print_text_block(const char* label, const std::string& text) {
  std::string out = utf8(text);
  std::string indented;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    indented.push_back(out[i]);
    if (out[i] == '\n') indented += "           ";
  }
  printf_out("  %-8s %s\n", label, indented.c_str());
}

void print_sections(const SectionsReport& s) {
  if (s.has_registry) {
    printf_out(":RegistryKeys%s\n", cut_note(s.registry_complete));
    if (s.registry_complete) {
      printf_out("  key            HKEY_LOCAL_MACHINE\\%s\n", utf8(s.key_path).c_str());
      printf_out("  folder value   %s\n  program value  %s\n  level value    %s\n  level          %d\n",
             utf8(s.folder_value).c_str(), utf8(s.program_value).c_str(),
             utf8(s.level_value).c_str(), s.level);
    }
  }
  if (s.has_startup) {
    printf_out(":StartupMsg%s\n", cut_note(s.startup_complete));
    print_text_block("caption", s.caption);
    print_text_block("text", s.text);
  }
  if (s.has_names) {
    printf_out(":XlatNamesTable%s\n", cut_note(s.names_complete));
    for (const auto& pair : s.names) {
      printf_out("  %s  %s\n", utf8(pair.first).c_str(), utf8(pair.second).c_str());
    }
  }
  print_list(":Folders", s.folders);
  if (s.has_commands) {
    printf_out(":CommandsToExecute%s\n", cut_note(s.commands_complete));
    for (const CommandReport& c : s.commands) {
      std::string flags = std::string((c.flags & kCommandWaitForExit) ? "wait" : "no wait") +
                          ((c.flags & kCommandInInstallDir) ? ", in install dir" : ", as given");
      printf_out("  [%s] %s  %s\n", flags.c_str(), utf8(c.program).c_str(), utf8(c.arguments).c_str());
    }
  }
  print_list(":FilesToRemove", s.remove);
}

json list_json(const ListReport& list) {
  if (!list.present) return nullptr;
  json items = json::array();
  for (const std::string& item : list.items) items.push_back(utf8(item));
  return json{{"items", items}, {"complete", list.complete}};
}

json sections_json(const SectionsReport& s) {
  json out;
  out["registry"] = nullptr;
  if (s.has_registry) {
    out["registry"] = {{"complete", s.registry_complete}, {"key", utf8(s.key_path)},
                       {"folder_value", utf8(s.folder_value)},
                       {"program_value", utf8(s.program_value)},
                       {"level_value", utf8(s.level_value)}, {"level", s.level}};
  }
  out["startup"] = nullptr;
  if (s.has_startup) {
    out["startup"] = {{"complete", s.startup_complete}, {"caption", utf8(s.caption)},
                      {"text", utf8(s.text)}};
  }
  out["names"] = nullptr;
  if (s.has_names) {
    json pairs = json::array();
    for (const auto& p : s.names) pairs.push_back({{"substitute", utf8(p.first)}, {"path", utf8(p.second)}});
    out["names"] = {{"complete", s.names_complete}, {"pairs", pairs}};
  }
  out["folders"] = list_json(s.folders);
  out["commands"] = nullptr;
  if (s.has_commands) {
    json records = json::array();
    for (const CommandReport& c : s.commands) {
      records.push_back({{"program", utf8(c.program)}, {"arguments", utf8(c.arguments)},
                         {"wait", (c.flags & kCommandWaitForExit) != 0},
                         {"in_install_dir", (c.flags & kCommandInInstallDir) != 0},
                         {"flags", c.flags}});
    }
    out["commands"] = {{"complete", s.commands_complete}, {"records", records}};
  }
  out["remove"] = list_json(s.remove);
  return out;
}

// The layout of the JSON report; raised when a field changes or goes.
// 2: each entry's "sha256", the package's "checksums" and "signed".
constexpr int kListSchemaVersion = 2;

json report_json(const std::string& input, const PackageReport& report,
                 const std::vector<std::string>& digests) {
  json entries = json::array();
  for (size_t i = 0; i < report.entries.size(); ++i) {
    const EntryReport& e = report.entries[i];
    json entry = {{"name", utf8(e.name)}, {"section", e.is_section}, {"size", e.size},
                  {"stored_size", e.stored_size}, {"compressed", e.compressed},
                  {"sha256", digests[i]}};
    entry["path"] = e.is_section ? json(nullptr) : json(utf8(e.path));
    entry["ratio"] = e.size == 0 ? json(nullptr) : json(static_cast<double>(e.stored_size) / e.size);
    entries.push_back(entry);
  }
  return json{{"schema", kListSchemaVersion}, {"file", input},
              {"kind", report.is_image ? "image" : "package"},
              {"file_size", report.file_size}, {"package_offset", report.package_offset},
              {"checksums", report.has_checksums}, {"entries", entries},
              {"sections", sections_json(report.sections)}};
}

ByteSpan file_of(const InputPackage& opened) {
  return ByteSpan{opened.package.view, opened.package.file_size};
}

bool signed_file(const InputPackage& opened) {
  CertificateTable table;
  return find_certificate_table(file_of(opened), &table) == SignatureState::kSigned;
}

bool open_and_describe(const std::string& input, InputPackage* opened, PackageReport* report,
                       std::string* error) {
  if (!open_input(input, opened, error) || !describe_package(*opened, report, error)) {
    *error = input + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace

int run_list(const std::string& input, bool as_json) {
  InputPackage opened;
  PackageReport report;
  std::string error;
  std::vector<std::string> digests;
  bool ok = open_and_describe(input, &opened, &report, &error);
  if (ok && as_json && !content_digests(opened, &digests, &error)) {
    error = input + ": " + error;
    ok = false;
  }
  if (ok && as_json) {
    json out = report_json(input, report, digests);
    out["signed"] = signed_file(opened);
    printf_out("%s\n", out.dump(2, ' ', false, json::error_handler_t::replace).c_str());
  } else if (ok) {
    printf_out("%s: %s%s, %llu bytes", input.c_str(),
           signed_file(opened) ? "signed " : "",
           report.is_image ? "self-contained image" : "package file",
           static_cast<unsigned long long>(report.file_size));
    if (report.is_image) printf_out(", package at offset %u", report.package_offset);
    printf_out(", %zu entries\n\n", report.entries.size());
    print_entries(report);
    printf_out("\n");
    print_sections(report.sections);
  }
  close_input(&opened);
  return ok ? 0 : report_failure(error);
}

int run_verify(const std::string& input) {
  InputPackage opened;
  PackageReport report;
  std::string error;
  std::vector<std::string> warnings;
  SignatureSummary signature;
  bool ok = open_and_describe(input, &opened, &report, &error);
  if (ok && !verify_package(opened, report, &error, &warnings)) {
    error = input + ": " + error;
    ok = false;
  }
  if (ok) signature = summarize_signature(inspect_signature(file_of(opened)));
  if (ok && signature.fault) {
    error = input + ": " + signature.line;
    ok = false;
  }
  if (signature.warning) warnings.push_back(signature.line);
  close_input(&opened);
  if (!ok) return report_failure(error);
  for (const std::string& w : warnings) printf_err("krvpack: warning: %s: %s\n", input.c_str(), w.c_str());
  size_t sections = 0;
  for (const EntryReport& e : report.entries) sections += e.is_section ? 1 : 0;
  printf_out("%s: OK: %s, %zu files, %zu sections\n", input.c_str(),
         report.is_image ? "self-contained image" : "package file", report.entries.size() - sections,
         sections);
  if (!signature.line.empty() && !signature.warning) {
    printf_out("%s: %s\n", input.c_str(), signature.line.c_str());
  }
  return 0;
}
