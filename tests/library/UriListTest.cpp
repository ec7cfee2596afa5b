// Reading the files a drag names in its "text/uri-list".

#include "platform/UriList.h"

#include <gtest/gtest.h>

TEST(UriListTest, KeepsOnlyAbsoluteLocalFilesInOrderUpToTheLimit) {
    const QByteArray list = "# a comment\r\n"
                            "file:///home/u/Pictures/a%20b.png\r\n"
                            "https://example.org/c.png\r\n"
                            "file://localhost/tmp/d.jpg\r\n"
                            "file://otherhost/tmp/e.jpg\r\n"
                            "file:relative/f.png\r\n"
                            "/tmp/no-scheme.png\r\n"
                            "file:///tmp/bad%zzescape.png\r\n"
                            "file:///tmp/cut%2\r\n"
                            "\r\n"
                            "file:///tmp/%C3%A9t%C3%A9.webp"; // no line end on the last
    const QList<QUrl> files = UriList::localFiles(list);
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(files[0].toLocalFile(), QStringLiteral("/home/u/Pictures/a b.png"));
    EXPECT_EQ(files[1].toLocalFile(), QStringLiteral("/tmp/d.jpg"));
    EXPECT_EQ(files[2].toLocalFile(), QStringLiteral("/tmp/été.webp"));

    QByteArray many;
    for (int i = 0; i < 5000; ++i)
        many += "file:///tmp/shot-" + QByteArray::number(i) + ".png\n";
    EXPECT_EQ(UriList::localFiles(many).size(), 5000);
    EXPECT_EQ(UriList::localFiles(many, 10).size(), 10);
    EXPECT_TRUE(UriList::localFiles(QByteArray()).isEmpty());
    EXPECT_TRUE(UriList::localFiles(QByteArray("file:///tmp/nul%00.png\n")).isEmpty());
}
