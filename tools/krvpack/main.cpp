// krvpack: makes, inspects, verifies and ships update packages.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "commands.h"
#include "console.h"
#include "krvpack_version.h"
#include "platform.h"

namespace {

void add_pack_options(CLI::App* command, PackOptions* options) {
  command->add_option("-l,--level", options->compression_level, "compression level, 1 (fastest) to 12 (smallest)")
      ->check(CLI::Range(1, 12))
      ->capture_default_str();
  command->add_option("-j,--jobs", options->threads, "compression threads (0: one per core)")
      ->capture_default_str();
}

struct Arguments {
  std::string manifest, output, old_dir, new_dir, input, dir;
  std::vector<std::string> image_inputs;  // [PATCH_EXE] PACKAGE
  std::string sign_command;
  bool json = false;
  PackOptions pack;
};

void define_commands(CLI::App* app, Arguments* a) {
  CLI::App* build = app->add_subcommand("build", "Make a package from a manifest");
  build->add_option("MANIFEST", a->manifest, "the manifest (TOML)")->required();
  build->add_option("-o,--output", a->output, "the package to write")->required();
  add_pack_options(build, &a->pack);

  CLI::App* diff = app->add_subcommand("diff", "Make an update package that turns OLD_DIR into NEW_DIR");
  diff->add_option("OLD_DIR", a->old_dir, "the installed version")->required();
  diff->add_option("NEW_DIR", a->new_dir, "the version to install")->required();
  diff->add_option("-m,--manifest", a->manifest,
                   "manifest with registry, level, startup message and commands");
  diff->add_option("-o,--output", a->output, "the package to write")->required();
  add_pack_options(diff, &a->pack);

  CLI::App* list = app->add_subcommand("list", "Show the entries and sections of a package or image");
  list->add_option("PACKAGE_OR_IMAGE", a->input, "package file or self-contained image")->required();
  list->add_flag("--json", a->json, "machine-readable output");

  CLI::App* verify = app->add_subcommand("verify", "Check a package or image as the updater reads it, and more");
  verify->add_option("PACKAGE_OR_IMAGE", a->input, "package file or self-contained image")->required();

  CLI::App* extract = app->add_subcommand("extract", "Write the files of a package into a folder");
  extract->add_option("PACKAGE_OR_IMAGE", a->input, "package file or self-contained image")->required();
  extract->add_option("-C,--directory", a->dir, "the folder to extract into")->required();

  CLI::App* image = app->add_subcommand("image", "Make the self-contained updater image");
  image->add_option("INPUTS", a->image_inputs,
                    "[PATCH_EXE] PACKAGE: the updater program (by default the PATCH.EXE installed "
                    "with krvpack) and the package file")
      ->required()
      ->expected(1, 2);
  image->add_option("-o,--output", a->output, "the image to write")->required();
  image->add_option("--sign-command", a->sign_command,
                    "run on the finished image before it is renamed into place: {image} is "
                    "the image (signed in place), {signed} where to write a signed copy; "
                    "without either the image's path is appended");
}

int dispatch(const CLI::App& app, const Arguments& a) {
  if (app.got_subcommand("build")) return run_build(a.manifest, a.output, a.pack);
  if (app.got_subcommand("diff")) return run_diff(a.old_dir, a.new_dir, a.manifest, a.output, a.pack);
  if (app.got_subcommand("list")) return run_list(a.input, a.json);
  if (app.got_subcommand("verify")) return run_verify(a.input);
  if (app.got_subcommand("extract")) return run_extract(a.input, a.dir);
  bool has_program = a.image_inputs.size() == 2;
  return run_image(has_program ? a.image_inputs[0] : std::string(), a.image_inputs.back(), a.output,
                   a.sign_command);
}

const char* const kSubcommands[] = {"build", "diff", "list", "verify", "extract", "image"};

// CLI11 would call an unknown word "not expected"; name it as what it is.
bool names_unknown_subcommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty() || args[0][0] == '-') return false;
  for (const char* name : kSubcommands) {
    if (args[0] == name) return false;
  }
  print_err("krvpack: unknown subcommand \"" + args[0] +
            "\" (the subcommands: build, diff, list, verify, extract, image; see krvpack --help)\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"krvpack: make, inspect, verify and ship update packages", "krvpack"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "krvpack " KRVPACK_VERSION " (commit " KRVPACK_COMMIT ")");
  // Paths like /tmp/x are arguments, not Windows-style options.
  app.allow_windows_style_options(false);
  Arguments arguments;
  define_commands(&app, &arguments);
  std::vector<std::string> args = program_arguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  if (names_unknown_subcommand(args)) return 2;
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  // CLI11 reports through exceptions; they stop here, at the one boundary.
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    print_out(std::string(e.what()) + "\n");
    return 0;
  } catch (const CLI::ParseError& e) {
    print_err(std::string("krvpack: ") + e.what() + " (see krvpack --help)\n");
    return 2;
  }
  return dispatch(app, arguments);
}
