// SPDX-License-Identifier: GPL-3.0-or-later
// Error texts in Chinese messages: Chinese or the errno name, never English prose.
#include "platform/error_text.h"

#include <gtest/gtest.h>
#include <string.h>

#include <cerrno>

namespace orb {
namespace {

bool HasNonAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

TEST(ErrorText, CommonErrorsAreChineseOthersChineseOrTheirName) {
    EXPECT_EQ(ErrorText(ENOENT), "文件或目录不存在");
    EXPECT_EQ(ErrorText(ENOSPC), "磁盘空间不足");
    for (int err : {ENOENT, EACCES,    EPERM,        ENOSPC,       EROFS,  EEXIST,   ENOTDIR,
                    EISDIR, EIO,       EBUSY,        ENAMETOOLONG, ELOOP,  EXDEV,    EMFILE,
                    EDQUOT, ETIMEDOUT, ECONNREFUSED, ENOMEDIUM,    ESTALE, ENOTEMPTY})
        EXPECT_TRUE(HasNonAscii(ErrorText(err))) << err << " " << ErrorText(err);
    // Outside the table: the system's Chinese text when there is one, else the name.
    for (int err : {EPROTONOSUPPORT, ENOTSOCK, EDOM}) {
        const std::string text = ErrorText(err);
        if (!HasNonAscii(text)) {
            EXPECT_STREQ(text.c_str(), ::strerrorname_np(err)) << err;
        }
        EXPECT_NE(text, ::strerror(err)) << "English prose for " << err;
    }
    EXPECT_EQ(ErrorText(99999), "错误 99999");
}

TEST(ErrorText, NoOpenerNamesWhatCouldNotBeOpened) {
    EXPECT_EQ(NoOpenerText("/media/cdrom/安装.exe"),
              "没有找到可以打开它的程序：/media/cdrom/安装.exe");
}

}  // namespace
}  // namespace orb
