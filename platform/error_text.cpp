// SPDX-License-Identifier: GPL-3.0-or-later
// Chinese texts for errno values, with the system's translation and the errno name
// behind the program's own table.
#include "platform/error_text.h"

#include <locale.h>
#include <string.h>

#include <cerrno>

namespace orb {

namespace {

struct ErrnoWords {
    int err;
    const char* text;
};

// The errors a user meets with discs, libraries and shares.
constexpr ErrnoWords kWords[] = {
    {EPERM, "不允许的操作"},
    {ENOENT, "文件或目录不存在"},
    {ESRCH, "进程不存在"},
    {EINTR, "操作被中断"},
    {EIO, "输入/输出错误"},
    {ENXIO, "设备不存在或没有就绪"},
    {E2BIG, "参数太长"},
    {EBADF, "文件描述符无效"},
    {EAGAIN, "资源暂时不可用"},
    {ENOMEM, "内存不足"},
    {EACCES, "权限不够"},
    {EFAULT, "地址错误"},
    {EBUSY, "设备或资源忙"},
    {EEXIST, "文件已经存在"},
    {EXDEV, "不能跨文件系统操作"},
    {ENODEV, "设备不存在"},
    {ENOTDIR, "不是目录"},
    {EISDIR, "是一个目录"},
    {EINVAL, "参数无效"},
    {ENFILE, "系统打开的文件太多"},
    {EMFILE, "打开的文件太多"},
    {ETXTBSY, "文件正在使用"},
    {EFBIG, "文件太大"},
    {ENOSPC, "磁盘空间不足"},
    {ESPIPE, "不能定位的文件"},
    {EROFS, "只读文件系统"},
    {EMLINK, "链接太多"},
    {EPIPE, "管道已断开"},
    {ENAMETOOLONG, "文件名太长"},
    {ENOTEMPTY, "目录不是空的"},
    {ELOOP, "符号链接层次太多"},
    {ENOMEDIUM, "驱动器中没有介质"},
    {EMEDIUMTYPE, "介质类型不对"},
    {ENOTSUP, "不支持的操作"},
    {ENOTCONN, "没有连接"},
    {ETIMEDOUT, "连接超时"},
    {ECONNREFUSED, "连接被拒绝"},
    {ECONNRESET, "连接被对方重置"},
    {EHOSTUNREACH, "无法到达主机"},
    {ENETUNREACH, "网络不可达"},
    {ESTALE, "网络文件句柄已失效"},
    {EDQUOT, "超出磁盘配额"},
    {ECANCELED, "操作已取消"},
    {EOVERFLOW, "数值太大"},
};

// A Chinese locale for the system's own texts; null when none is installed.
locale_t ChineseLocale() {
    static locale_t loc = [] {
        for (const char* name : {"zh_CN.UTF-8", "zh_CN.utf8", "zh_CN.GB18030", "zh_CN"})
            if (locale_t l = ::newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, name, nullptr)) return l;
        return locale_t{};
    }();
    return loc;
}

}  // namespace

std::string ErrorText(int err) {
    for (const ErrnoWords& w : kWords)
        if (w.err == err) return w.text;
    if (locale_t zh = ChineseLocale()) {
        // The C locale's text tells whether the Chinese one is a translation.
        static const locale_t c = ::newlocale(LC_ALL_MASK, "C", nullptr);
        const std::string english = c ? ::strerror_l(err, c) : std::string();
        const std::string chinese = ::strerror_l(err, zh);
        if (!chinese.empty() && chinese != english) return chinese;
    }
    if (const char* name = ::strerrorname_np(err)) return name;
    return "错误 " + std::to_string(err);
}

std::string NoOpenerText(const std::string& pathOrUrl) {
    return "没有找到可以打开它的程序：" + pathOrUrl;
}

}  // namespace orb
