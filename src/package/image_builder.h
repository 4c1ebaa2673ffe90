// Building a self-contained updater image from a program and a package.
#pragma once

// Paths are UTF-8. Writes the program, the package and the trailer into output_path. Reports
// nothing; an output it created and could not complete is removed.
void build_image(const char* program_path, const char* package_path, const char* output_path);
