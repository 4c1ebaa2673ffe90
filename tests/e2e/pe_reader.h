// Reads what the tests check in a built Windows program: machine,
// subsystem, imported DLLs and functions, and resources by type and id.
// Every offset is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeImport {
  std::string dll;
  std::vector<std::string> functions;  // imported by name
};

struct PeResource {
  uint32_t type = 0;
  uint32_t id = 0;  // named resources are left out
  std::string data;
};

struct PeFile {
  uint16_t machine = 0;
  uint16_t subsystem = 0;
  std::vector<PeImport> imports;
  std::vector<PeResource> resources;
};

// False with *error when the bytes are not a PE32+ program this reader can walk.
bool read_pe(const std::string& bytes, PeFile* pe, std::string* error);

const PeResource* find_resource(const PeFile& pe, uint32_t type, uint32_t id);
