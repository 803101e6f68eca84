#include "script/scripts_help_text.h"

#include <array>

namespace quillet {

const std::string& scriptsHelpText() {
  static const std::string text = [] {
    static constexpr std::array<const char*, 34> kLines = {
        "Possible QX script parameters:",
        "",
        "1. /s - Generate files by all size:",
        "",
        "/s /allsize:[<All size><Mod> or allpartition] /root:'<Root folder>'",
        "/minsize:<Min size><Mod> [/maxsize:<Max size><Mod>]",
        "[/filemask:'<File mask>'] [/nofill] [/noclose]",
        "",
        "Example:",
        "/s /allsize:100m /root:'c:\\test' /minsize:1m /maxsize:2m",
        "/filemask:'????????.???' /nofill /noclose",
        "",
        "/s /allsize:allpartition /root:'c:\\test' /minsize:1m /maxsize:2m",
        "/filemask:'????????.???' /nofill /noclose",
        "",
        "2. /f - Generate files by number:",
        "",
        "/f /minfiles:<Minimum files number> [/maxfiles:<Maximum files number>]",
        "[/limsize:<Limit size><Mod>]",
        "[/recurse",
        "  [/rootsize:<Root size> /treedeep:<Tree deep> /dirlimit:<Dir number limit>",
        "    [/dirmask:'<Directory mask>']",
        "  ]",
        "]",
        "/root:'<Root folder>' /minsize:<Min size><Mod> [/maxsize:<Max size><Mod>]",
        "[/filemask:'<File mask>'] [/nofill] [/noclose]",
        "",
        "Example:",
        "/f /minfiles:100 /maxfiles:200 /limsize:150m /recurse",
        "/rootsize:2 /treedeep:1 /dirlimit:200 /dirmask:'????????' /root:'c:\\test'",
        "/minsize:1m /maxsize:2m /filemask:'????????.???' /nofill /noclose",
        "",
        "3. /? - Call scripts help dialog",
        "",
    };
    std::string joined;
    for (const char* line : kLines) {
      joined += line;
      joined += "\r\n";
    }
    // The fixed text ends with the empty line above; the comment line is appended to it.
    joined.resize(joined.size() - 2);
    return joined + "\r\nComment: <Mod> = <b, k, m, g>";
  }();
  return text;
}

}  // namespace quillet
