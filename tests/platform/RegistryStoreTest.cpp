#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/RegistryStore.h"
#include "tests/IniProfile.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::ScopedEnv;
using test::TempDir;

TEST(RegistryStore, PathComesFromTheEnvironmentOrTheProgramFolder) {
    {
        ScopedEnv registry("PLX_REGISTRY", "/srv/plx/registry.ini");
        EXPECT_EQ(registryStorePath(), "/srv/plx/registry.ini");
    }
    ScopedEnv registry("PLX_REGISTRY", "");
    EXPECT_EQ(registryStorePath(programFolder("/opt/plx/bin/CVUninst")), "/opt/plx/bin/registry.ini");
    ScopedEnv home("PLX_HOME", "/srv/plx");
    EXPECT_EQ(registryStorePath(), "/srv/plx/registry.ini");
    EXPECT_EQ(registryStorePath(programFolder("/opt/plx/bin/CVUninst")), "/srv/plx/registry.ini");
}

TEST(RegistryStore, KeyNamesJoinRootAndPath) {
    EXPECT_EQ(registryRootName(0x80000002u), "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(registryRootName(0x80000000u), "HKEY_CLASSES_ROOT");
    EXPECT_FALSE(registryRootName(0x80000004u));
    EXPECT_EQ(registryKeyName("HKEY_LOCAL_MACHINE", "\\SOFTWARE\\Korvane\\"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane");
    EXPECT_EQ(registryKeyName("HKEY_LOCAL_MACHINE", "\\"), "HKEY_LOCAL_MACHINE");
}

TEST(RegistryStore, KeysValuesAndSubkeys) {
    TempDir dir;
    RegistryStore store(dir / "registry.ini");
    EXPECT_FALSE(store.keyExists("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_FALSE(store.deleteValue("HKEY_LOCAL_MACHINE\\SOFTWARE", "x"));
    EXPECT_FALSE(store.deleteKey("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_FALSE(std::filesystem::exists(dir / "registry.ini")); // nothing changed, nothing written

    store.writeValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "Dir", "/opt/plx");
    store.writeValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "", "default");
    EXPECT_EQ(store.readValue("hkey_local_machine\\software\\korvane\\plx", "DIR"), "/opt/plx");
    EXPECT_EQ(store.readValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", ""), "default");
    EXPECT_EQ(getProfileString(dir / "registry.ini", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "@"), "default");
    EXPECT_TRUE(store.keyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane")); // a key below it has a section
    EXPECT_TRUE(store.hasSubkeys("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_FALSE(store.hasValues("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane"));
    EXPECT_FALSE(store.hasSubkeys("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX"));
    EXPECT_FALSE(store.keyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korv"));

    store.writeValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX\\Sub", "x", "1");
    store.writeValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLXTOOLS", "x", "1");
    EXPECT_TRUE(store.deleteValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "dir"));
    EXPECT_FALSE(store.readValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "Dir"));
    EXPECT_TRUE(store.deleteKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX"));
    EXPECT_EQ(getProfileSectionNames(dir / "registry.ini"),
              std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLXTOOLS"});
    EXPECT_TRUE(store.deleteKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLXTOOLS"));
    EXPECT_FALSE(std::filesystem::exists(dir / "registry.ini")); // the last key took the store with it
}
