// Names from the disk become safe file names; recovered files never overwrite each other.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QFile>
#include <QString>

#include "cli/recover_target.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

TEST(SafeFileName, KeepsNamesInsideTheTargetFolder) {
    struct case_s {
        QString in;
        QString out;
    } cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"a/b\\c.txt", "a_b_c.txt"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {".", "_"},
        {"..", "__"},
        {"", "_"},
        {QString::fromUtf16(u"nul\u0000inside", 10), "nul_inside"},
        {QString::fromUtf16(u"tab\there\u007f"), "tab_here_"},
        {QString::fromUtf16(u"#BC.TXT"), "#BC.TXT"},
        {QString::fromUtf16(u"\u4E2D\u6587.txt"), QString::fromUtf16(u"\u4E2D\u6587.txt")},
    };
    for (const case_s& c : cases) {
        EXPECT_EQ(safe_file_name(c.in), c.out) << c.in.toStdString();
    }
}

TEST(SafeFileName, ShortensLongNamesKeepingTheExtension) {
    // A 259-unit long name in CJK is 777 bytes of UTF-8: Linux takes at most 255.
    QString cjk = QString(255, QChar(0x6587)) + ".jpeg";
    QString safe = safe_file_name(cjk);
    EXPECT_LE(safe.toUtf8().size(), 255);
    EXPECT_TRUE(safe.endsWith(".jpeg"));
    EXPECT_EQ(safe.size(), 83 + 5);  // whole characters only
    // Characters outside the basic plane are not split.
    QString emoji;
    for (int i = 0; i < 100; ++i) {
        emoji += QString::fromUtf16(u"\U0001F600");
    }
    QString cut = safe_file_name(emoji + ".png");
    EXPECT_LE(cut.toUtf8().size(), 255);
    EXPECT_FALSE(cut.at(cut.size() - 5).isHighSurrogate());
    EXPECT_TRUE(cut.endsWith(".png"));
}

TEST(UniqueTargetPath, NeverReturnsAnExistingName) {
    QString dir = QString::fromStdString(scratch_dir("unique"));
    EXPECT_EQ(unique_target_path(dir, "a.txt"), dir + "/a.txt");
    write_file_bytes((dir + "/a.txt").toStdString(), {1});
    EXPECT_EQ(unique_target_path(dir, "a.txt"), dir + "/a (2).txt");
    write_file_bytes((dir + "/a (2).txt").toStdString(), {2});
    EXPECT_EQ(unique_target_path(dir, "a.txt"), dir + "/a (3).txt");
    // A dangling link is taken too: writing through it would land elsewhere.
    ASSERT_EQ(::symlink("/nonexistent/target", (dir + "/link.txt").toUtf8().constData()), 0);
    EXPECT_EQ(unique_target_path(dir, "link.txt"), dir + "/link (2).txt");
    EXPECT_EQ(unique_target_path(dir, "noext"), dir + "/noext");
    write_file_bytes((dir + "/noext").toStdString(), {3});
    EXPECT_EQ(unique_target_path(dir, "noext"), dir + "/noext (2)");
    // The variant of a name at the length limit stays within it.
    QString longest = QString(251, 'x') + ".txt";
    write_file_bytes((dir + "/" + longest).toStdString(), {4});
    QString variant = unique_target_path(dir, longest);
    EXPECT_LE(variant.mid(dir.size() + 1).toUtf8().size(), 255);
    EXPECT_TRUE(variant.endsWith(" (2).txt"));
}

TEST(CheckTargetDir, AFolderBesideAnImageIsFine) {
    std::string dir = scratch_dir("beside");
    std::string image = dir + "/disk.img";
    write_file_bytes(image, std::vector<uint8_t>(4096, 0));
    std::string why;
    EXPECT_EQ(check_target_dir(QString::fromStdString(dir + "/out"), image, 0, 4096, why), 0)
        << why;
}

TEST(CheckTargetDir, AFolderOnTheScannedImageIsRefused) {
    if (!running_as_root() || !have_program("mkfs.ext2")) {
        GTEST_SKIP() << "needs root and mkfs.ext2 to loop-mount an image";
    }
    std::string dir = scratch_dir("onimage");
    std::string image = dir + "/disk.img";
    std::string mount_point = dir + "/mnt";
    // The file system starts 1 MiB into the image, as a partition would.
    ASSERT_EQ(run_command("truncate -s 9M " + image + " && mkfs.ext2 -q -F -E offset=1048576 " +
                          image + " 8192 >/dev/null 2>&1 && mkdir " + mount_point),
              0);
    const loop_lock_c loop_lock;  // held until the umount below frees the device
    if (run_command("mount -o loop,offset=1048576 " + image + " " + mount_point + " 2>/dev/null") !=
        0) {
        GTEST_SKIP() << "loop devices cannot be mounted here";
    }
    std::string why;
    QString target = QString::fromStdString(mount_point + "/recovered");
    EXPECT_EQ(check_target_dir(target, image, 1048576, 8u << 20, why), -1);
    EXPECT_NE(why.find("lies on the volume being scanned"), std::string::npos) << why;
    // Another part of the same image is not the scanned volume.
    why.clear();
    EXPECT_EQ(check_target_dir(target, image, 0, 1048576, why), 0) << why;
    run_command("umount " + mount_point);
}
