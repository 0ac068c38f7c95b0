// The Windows programs bind the driver library when they load: without
// FTD2XX.dll beside them they never start. Windows says so in a message box
// and ends them with STATUS_DLL_NOT_FOUND; wine says so on standard error
// when its loader may report errors, with a status of its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run.h"

namespace pitchime::test {
namespace {

TEST(Windows, ProgramsNeedTheDriverLibrary) {
    namespace fs = std::filesystem;
    for (const std::string program : {"pitchime.exe", "pitchime-trill.exe"}) {
        const fs::path copy = fs::path(tempDir()) / program;
        fs::copy_file(PITCHIME_WINE_PROGRAMS "/" + program, copy, fs::copy_options::overwrite_existing);
        const Result r = run({.argv = {PITCHIME_WINE, copy.string()},
                              .env = {"WINEPREFIX=" PITCHIME_WINE_PREFIX, "WINEDEBUG=-all,err+module",
                                      "WINEDLLOVERRIDES=mscoree,mshtml="}});
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("FTD2XX.dll"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace pitchime::test
