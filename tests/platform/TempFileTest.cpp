#include "platform/TempFile.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

#include "tests/TestSupport.h"

using namespace plx;

TEST(TempFile, NamesAreUniqueUpperCaseAndPrivate) {
    test::TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        auto path = createUniqueFile(dir.path(), "@zv");
        std::string name = path.filename().string();
        ASSERT_EQ(name.rfind("@zv", 0), 0u);
        ASSERT_EQ(name.substr(name.size() - 4), ".tmp");
        for (char c : name.substr(3, name.size() - 7))
            ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << name;
        names.insert(name);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_size, 0);
    }
    EXPECT_EQ(names.size(), 200u);
}

TEST(TempFile, MissingFolderThrowsAndRemovalIsScoped) {
    test::TempDir dir;
    EXPECT_THROW(createUniqueFile(dir / "nope", "@zv"), std::system_error);
    std::filesystem::path kept;
    {
        ScopedFileRemoval removal(createUniqueFile(dir.path(), "@zv"));
        kept = removal.path();
        EXPECT_TRUE(std::filesystem::exists(kept));
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}
