#include "app/help.h"

// SORVIK_VERSION comes from the build: the project's version in CMakeLists.txt.
namespace sorvik::help {

const char kUsageText[] =
    "Lumivale SFS & VAG to WAV converter ver. 0.02"
    "\n\nUsage:\n\tsorvik [input] [output path]\n\nOptions:\n"
    "\t-x\textract vag files (not decode)\n\t-tbgm\tbgm files only\n"
    "\t-tvoice\tvoice files only\n\t-tse\tse files only\n\t-h, -?\tshow this help\n";

const char kFullHelp[] =
    "sorvik " SORVIK_VERSION
    ": the sound of the game Lumivale to WAV files\n"
    "\n"
    "Usage: sorvik [options] input [output folder]\n"
    "\n"
    "  input          a .vag sound file, a pattern such as \"music/*.vag\" (quoted, so\n"
    "                 that sorvik expands it), or the game's .sfs sound archive; a\n"
    "                 16-bit PCM .wav file (or pattern) is encoded to a .VAG image\n"
    "  output folder  where the files go; made, with any missing parents, when it\n"
    "                 does not exist. Without it they go beside the input.\n"
    "\n"
    "Options may stand anywhere; on Windows they may begin with / as well.\n"
    "  -x         from the archive, write the sounds as raw .VAG images, not WAV\n"
    "  -tbgm      from the archive, the music only\n"
    "  -tse       from the archive, the effects only (unnamed and named)\n"
    "  -tvoice    from the archive, the voices only (of several -t, the last counts)\n"
    "  -k         keep going: go on past a file or an archive entry that cannot be\n"
    "             read, converted or written, and exit with 1 at the end. A music\n"
    "             track that cannot be found ends the music: the next lies after it.\n"
    "  -l         list what the input holds, one line of tab-separated columns per\n"
    "             sound (name, place, channels, rate, length, loop), and write\n"
    "             nothing; exit with 1 when a sound has a problem\n"
    "  -loop      add a \"smpl\" chunk with the loop to each WAV whose sound has one\n"
    "  -loops N   write a sound that has a loop with the loop played N times (1 to\n"
    "             9), then faded out over 10 seconds of further repeats\n"
    "  -r         rebuild the .sfs archive from the output folder, where an\n"
    "             extraction wrote its sounds and some were edited: writes the\n"
    "             folder's own copy of the archive with the changed sounds in place\n"
    "  -y         let encoded images and a rebuilt archive replace files of their\n"
    "             names (each is named on standard error); without it such an\n"
    "             output is refused. Decoding replaces the WAV files it wrote before.\n"
    "  -q         quiet: show nothing but failures (a listing is still shown)\n"
    "  -h, -?     show the short usage text\n"
    "  --help     show this help\n"
    "  --version  show the version\n"
    "\n"
    "The archive's index files, LMVSE.000 (named effects) and LMVVOICE.000 (voices),\n"
    "must lie in the archive's folder. When one is missing, sorvik stops before its\n"
    "bank (with -k, it goes on with the next).\n"
    "\n"
    "Exit status: 0 when everything asked for was done, 1 when something failed,\n"
    "2 when the command line could not be used.\n";

const char kFullHelpPointer[] = "more options: sorvik --help";

const char kVersionLine[] = "sorvik " SORVIK_VERSION;

}  // namespace sorvik::help
