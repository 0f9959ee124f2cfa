// vemo-mkpak: packs asset files into a package the browser reads at start-up.
//
//   vemo-mkpak -o assets.pak [--add NAME=FILE]... [FOLDER]...
//
// Every file below each FOLDER is stored under its path relative to that
// folder; --add stores one file under a name of its own choosing.
#include "PakWriter.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    CLI::App app{"Packs asset files into a VPAK asset package."};
    app.name("vemo-mkpak");

    std::string output;
    std::vector<std::string> additions;
    std::vector<std::string> folders;
    app.add_option("-o,--output", output, "Package file to write")->required();
    // One NAME=FILE per --add, so that folders may follow on the line.
    app.add_option("--add", additions, "Store FILE under NAME in the package")
        ->type_name("NAME=FILE")
        ->allow_extra_args(false);
    app.add_option("folders", folders, "Folders whose files are stored under their relative paths");

    CLI11_PARSE(app, argc, argv);

    try {
        std::vector<vemo::mkpak::PakFile> files;
        for (const std::string& folder : folders) {
            for (vemo::mkpak::PakFile& f : vemo::mkpak::collectFolder(folder)) {
                files.push_back(std::move(f));
            }
        }
        for (const std::string& addition : additions) {
            const std::size_t eq = addition.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == addition.size()) {
                throw std::runtime_error("--add expects NAME=FILE, got: " + addition);
            }
            files.push_back({addition.substr(0, eq), vemo::mkpak::readFile(addition.substr(eq + 1))});
        }
        vemo::mkpak::writeFileAtomically(output, vemo::mkpak::buildPackage(std::move(files)));
    } catch (const std::exception& e) {
        std::cerr << "vemo-mkpak: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
