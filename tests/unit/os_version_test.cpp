#include "system/os_version.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "atapi_key.h"
#include "fake_win32.h"

namespace {

void SetVersion(DWORD platform, DWORD major, DWORD minor, DWORD build, const std::string& csd) {
    fake::Reset();
    fake::state().version = {false, platform, major, minor, build, csd};
}

int RegistryCalls() {
    int count = 0;
    for (const fake::Call& call : fake::state().calls) count += call.function.rfind("Reg", 0) == 0 ? 1 : 0;
    return count;
}

TEST(ClassifyOs, KindFromTheVersionFields) {
    const DWORD W = VER_PLATFORM_WIN32_WINDOWS, N = VER_PLATFORM_WIN32_NT;
    struct Case {
        DWORD platform, major, minor, build;
        OsKind kind;
        int servicePack;
    } const cases[] = {
        {W, 4, 0, 0x040003B6, Windows95, 0},  // 9x never reads a service-pack number
        {W, 4, 10, 0x040003B6, Windows95, 0},
        {W, 4, 0, 0x050003B6, Windows95Osr2, 0},  // only the whole field is Windows 95
        {W, 4, 0, 0x000003B6, Unrecognised, 0},
        {W, 4, 0, 1110, Unrecognised, 0},
        {W, 4, 0, 1111, Windows95Osr2, 0},
        {W, 4, 0, 0x04000457, Windows95Osr2, 0},
        {W, 4, 0, 0x00010000, Windows95Osr2, 0},  // low word 0, whole field far above 1111
        {W, 4, 1, 0, Windows98, 0},
        {W, 4, 10, 1998, Windows98, 0},
        {W, 4, 89, 0, Windows98, 0},
        {W, 4, 90, 0, WindowsMe, 0},
        {W, 4, 0xFFFFFFFF, 0, WindowsMe, 0},
        {W, 3, 10, 0x040003B6, Unrecognised, 0},
        {W, 5, 0, 2195, Unrecognised, 0},
        {N, 0, 0, 0, WindowsNt4, 3},
        {N, 4, 0, 1381, WindowsNt4, 3},
        {N, 5, 0, 2195, Windows2000, 3},
        {N, 5, 1, 2600, WindowsXp, 3},
        {N, 5, 2, 3790, Unrecognised, 3},
        {N, 6, 0, 6002, Windows2000, 3},
        {N, 6, 1, 7601, WindowsXp, 3},
        {N, 10, 0, 19045, Windows2000, 3},
        {N, 0xFFFFFFFF, 1, 0, WindowsXp, 3},
        {N, 6, 2, 9200, Unrecognised, 3},
        {VER_PLATFORM_WIN32s, 5, 1, 2600, Unrecognised, 0},
        {3, 5, 1, 2600, Unrecognised, 0},
        {N + 0x100, 5, 1, 2600, Unrecognised, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("platform " + std::to_string(c.platform) + " version " + std::to_string(c.major) + "." +
                     std::to_string(c.minor) + " build " + std::to_string(c.build));
        SetVersion(c.platform, c.major, c.minor, c.build, "service pack 3");
        const OsInfo info = ClassifyOs();
        EXPECT_EQ(info.kind, c.kind);
        EXPECT_EQ(info.servicePack, c.servicePack);
    }
}

TEST(ClassifyOs, QueriesOnceWithAClearedRecord) {
    SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 2");
    EXPECT_EQ(ClassifyOs().servicePack, 2);
    const auto queries = fake::CallsTo("GetVersionExA");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].args, (std::vector<std::string>{"ptr", "148"}));
    EXPECT_TRUE(fake::state().versionRecordWasCleared);

    fake::state().version.fails = true;
    const OsInfo failed = ClassifyOs();
    EXPECT_EQ(failed.kind, Unrecognised);
    EXPECT_EQ(failed.servicePack, 0);
}

TEST(ServicePackFromText, ReadsTheDecimalNumberAfterTheMatch) {
    struct Case {
        const char* name;
        UINT codePage;
        std::string text;  // up to 128 bytes; the rest of the area is zero, as the platform leaves it
        int number;
        std::string upper;
    } const cases[] = {
        {"plain", 1252, "Service Pack 1", 1, "SERVICE PACK 1"},
        {"empty", 1252, "", 0, ""},
        {"lower case", 1252, "service pack 3", 3, "SERVICE PACK 3"},
        {"mixed case", 1252, "sErViCe PaCk 2", 2, "SERVICE PACK 2"},
        {"letter after digit", 1252, "Service Pack 1a", 1, "SERVICE PACK 1A"},
        {"two digits", 1252, "Service Pack 10", 10, "SERVICE PACK 10"},
        {"leading zero", 1252, "Service Pack 03", 3, "SERVICE PACK 03"},
        {"255", 1252, "Service Pack 255", 255, "SERVICE PACK 255"},
        {"saturates", 1252, "Service Pack 256", 255, "SERVICE PACK 256"},
        {"saturates long", 1252, "Service Pack 99999999999", 255, "SERVICE PACK 99999999999"},
        {"ends after PACK", 1252, "Service Pack", 0, "SERVICE PACK"},
        {"ends after blank", 1252, "Service Pack ", 0, "SERVICE PACK "},
        {"two blanks", 1252, "Service Pack  3", 0, "SERVICE PACK  3"},
        {"sign", 1252, "Service Pack -1", 0, "SERVICE PACK -1"},
        {"no blank in name", 1252, "ServicePack 1", 0, "SERVICEPACK 1"},
        {"last letter differs", 1252, "Service Pacx 1", 0, "SERVICE PACX 1"},
        {"inside text", 1252, "Windows Service Pack 2, v.2180", 2, "WINDOWS SERVICE PACK 2, V.2180"},
        {"first match wins", 1252, "Service Pack 1, Service Pack 2", 1, "SERVICE PACK 1, SERVICE PACK 2"},
        {"accents before", 1252, "\xE9t\xE9 \xFF service pack 4", 4, "\xC9T\xC9 \x9F SERVICE PACK 4"},
        {"last digit in area", 1252, std::string(113, 'x') + "Service Pack 7", 7,
         std::string(113, 'X') + "SERVICE PACK 7"},
        {"digit on terminator", 1252, std::string(114, 'x') + "Service Pack ", 0,
         std::string(114, 'X') + "SERVICE PACK "},
        {"match at offset 115", 1252, std::string(115, 'x') + "Service Pack", 0,
         std::string(115, 'X') + "SERVICE PACK"},
        {"no terminator, no match", 1252, std::string(128, 'a'), 0, std::string(128, 'A')},
        {"no terminator, match at 116", 1252, std::string(116, 'x') + "SERVICE PACK", 0,
         std::string(116, 'X') + "SERVICE PACK"},
        {"932 ascii", 932, "service pack 2", 2, "SERVICE PACK 2"},
        {"932 after kanji", 932, "\x93\xFA\x96\x7B service pack 2", 2, "\x93\xFA\x96\x7B SERVICE PACK 2"},
        {"932 trail byte S", 932, "\x83\x53" "ERVICE PACK 1", 0, "\x83\x53" "ERVICE PACK 1"},
        {"932 trail byte s", 932, "\x83\x73" "ervice pack 1", 0, "\x83\x73" "ERVICE PACK 1"},
        {"932 full-width", 932, "\x82\x93\x82\x85 service pack 1", 1, "\x82\x72\x82\x64 SERVICE PACK 1"},
        {"932 lone lead byte at end", 932, "service pack 2\x83", 2, "SERVICE PACK 2\x83"},
        {"932 only a lead byte", 932, "\x83", 0, "\x83"},
        {"932 lead byte, no terminator", 932, std::string(127, 'a') + "\x83", 0, std::string(127, 'A') + "\x83"},
        {"932 pair, no terminator", 932, std::string(126, 'a') + "\x83\x73", 0, std::string(126, 'A') + "\x83\x73"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.text.size(), 128u);
        fake::Reset();
        fake::state().codePage = c.codePage;
        char text[128] = {};
        std::memcpy(text, c.text.data(), c.text.size());

        EXPECT_EQ(ServicePackFromText(text), c.number);
        EXPECT_EQ(std::string(text, strnlen(text, sizeof text)), c.upper);
    }
}

TEST(CheckApplicability, ReadsTheSettingOnlyFromTheThresholdsOn) {
    const DWORD N = VER_PLATFORM_WIN32_NT;
    enum Stored { None, Zero, One };
    struct Case {
        DWORD platform, major, minor;
        std::string csd;
        Stored stored;
        Applicability expected;
    } const cases[] = {
        {N, 5, 1, "Service Pack 1", None, NotEnabled},
        {N, 5, 1, "Service Pack 1", One, AlreadyEnabled},
        {N, 5, 1, "service pack 2", Zero, NotEnabled},
        {N, 5, 1, "", One, NotApplicable},
        {N, 5, 1, "Service Pack", One, NotApplicable},   // no number: not 208
        {N, 5, 1, "Service Pack ", One, NotApplicable},  // no number: not 240
        {N, 5, 1, std::string(115, 'x') + "Service Pack", One, NotApplicable},
        {N, 5, 0, "Service Pack 2", One, NotApplicable},
        {N, 5, 0, "Service Pack 3", One, AlreadyEnabled},
        {N, 5, 0, "Service Pack 4", None, NotEnabled},
        {N, 5, 0, "Service Pack 10", One, AlreadyEnabled},
        {N, 5, 0, "Service Pack", One, NotApplicable},
        {N, 5, 2, "Service Pack 2", One, NotApplicable},
        {N, 6, 0, "Service Pack 3", One, AlreadyEnabled},
        {N, 6, 0, "Service Pack 2", One, NotApplicable},
        {N, 6, 1, "Service Pack 1", Zero, NotEnabled},
        {N, 4, 0, "Service Pack 6a", One, NotApplicable},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "Service Pack 3", One, NotApplicable},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, " ", One, NotApplicable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.platform) + " " + std::to_string(c.major) + "." + std::to_string(c.minor) +
                     " '" + c.csd + "'");
        SetVersion(c.platform, c.major, c.minor, 0, c.csd);
        if (c.stored != None) fake::SetDword(kAtapiKey, kBigLbaValue, c.stored == One ? 1 : 0);

        EXPECT_EQ(CheckApplicability(), c.expected);
        EXPECT_EQ(fake::CountCalls("RegOpenKeyExA"), c.expected == NotApplicable ? 0 : 1);
        EXPECT_EQ(RegistryCalls() == 0, c.expected == NotApplicable) << RegistryCalls() << " registry call(s)";
    }
}

TEST(CheckApplicability, FailedVersionQueryLeavesTheRegistryAlone) {
    SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 1");
    fake::state().version.fails = true;
    fake::SetDword(kAtapiKey, kBigLbaValue, 1);
    EXPECT_EQ(CheckApplicability(), NotApplicable);
    EXPECT_EQ(RegistryCalls(), 0);
}

}  // namespace
