#include <gtest/gtest.h>

#include <string>

#include "client/DateTimeText.h"

using namespace plx;

TEST(DateTimeText, FormatLogTimeShowsMinutesWithoutSeconds) {
    struct Case {
        std::string_view stamp, shown;
    } cases[] = {
        {"20051102093005", "2005/11/02 9:30"},
        {"20051102000059", "2005/11/02 0:00"},
        {"20051231235959", "2005/12/31 23:59"},
        {"20040229120000", "2004/02/29 12:00"},
        {"", ""},
        // Anything that is not a stamp is shown as it is.
        {"20050229120000", "20050229120000"},
        {"20051302093005", "20051302093005"},
        {"20051102240000", "20051102240000"},
        {"20051102096000", "20051102096000"},
        {"2005110209300", "2005110209300"},
        {"200511020930055", "200511020930055"},
        {"2005-11-02 9:30", "2005-11-02 9:30"},
        {"2005110209300x", "2005110209300x"},
        {"00001102093005", "00001102093005"},
        {"plsession", "plsession"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatLogTime(c.stamp), c.shown) << c.stamp;
}

TEST(DateTimeText, NormalizeDateTakesOnlyCalendarDates) {
    struct Case {
        std::string_view text, normalized;
    } cases[] = {
        {"2005/1/2", "2005/01/02"},
        {"2005/11/02", "2005/11/02"},
        {"2004/2/29", "2004/02/29"},
        {"2000/02/29", "2000/02/29"},
        {"9999/12/31", "9999/12/31"},
        {"2005/02/29", ""},
        {"1900/02/29", ""},
        {"2005/13/01", ""},
        {"2005/00/10", ""},
        {"2005/04/31", ""},
        {"2005/1/0", ""},
        {"0000/01/01", ""},
        {"2005/11/02 10:00", ""},
        {"05/11/02", ""},
        {"20051102", ""},
        {"2005-11-02", ""},
        {"2005/011/02", ""},
        {" 2005/1/2", ""},
        {"2005/1/2/", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeDate(c.text), c.normalized) << c.text;
}

TEST(DateTimeText, TimesAreHoursAndMinutesWithOptionalSeconds) {
    for (std::string_view good : {"9:05", "09:05", "0:00", "23:59", "09:05:30", "23:59:59", "0:00:00"})
        EXPECT_TRUE(isTimeText(good)) << good;
    for (std::string_view bad : {"", "24:00", "9:60", "9:5", "9:05:6", "9:05:60", "123:00", ":05", "9:05:30:00", "9.05",
                                 "10:30 ", "2005-11-02", "2005/11/02", "2005/11/02 10:00", "-1:00"})
        EXPECT_FALSE(isTimeText(bad)) << bad;

    auto time = parseTimeText("9:05");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->hour, 9);
    EXPECT_EQ(time->minute, 5);
    EXPECT_FALSE(time->withSeconds);
    time = parseTimeText("09:05:30");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->second, 30);
    EXPECT_TRUE(time->withSeconds);
}

TEST(DateTimeText, RangeInOrderComparesWholeMoments) {
    struct Case {
        std::string_view dateFrom, timeFrom, dateTo, timeTo;
        bool inOrder;
    } cases[] = {
        {"2005/11/02", "10:00", "2005/11/02", "10:00", true},
        {"2005/11/02", "", "2005/11/02", "", true},
        {"2005/11/02", "23:59:59", "2005/11/02", "", true},
        {"2005/11/02", "", "2005/11/02", "0:00", true},
        {"2005/11/02", "0:00:01", "2005/11/02", "0:00", false},
        {"2005/11/02", "10:01", "2005/11/02", "10:00", false},
        {"2005/11/03", "", "2005/11/02", "", false},
        {"2005/12/31", "23:59:59", "2006/1/1", "0:00", true},
        {"2006/1/1", "0:00", "2005/12/31", "23:59:59", false},
        {"2005/11/02", "", "2005/11/2", "", true},
        // Texts that are no dates or times are never in order.
        {"2005/02/29", "", "2005/03/01", "", false},
        {"2005/11/02", "25:00", "2005/11/03", "", false},
        {"", "", "2005/11/03", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isRangeInOrder(c.dateFrom, c.timeFrom, c.dateTo, c.timeTo), c.inOrder)
            << c.dateFrom << " " << c.timeFrom << " / " << c.dateTo << " " << c.timeTo;
}

TEST(DateTimeText, AllDigitsLooksAtTheFirstCountBytesOnly) {
    EXPECT_FALSE(isAllDigits("12a4", 4));
    EXPECT_TRUE(isAllDigits("", 0));
    EXPECT_TRUE(isAllDigits("abc", 0));
    EXPECT_TRUE(isAllDigits("1234", 4));
    EXPECT_TRUE(isAllDigits("12a", 2));
    EXPECT_FALSE(isAllDigits("１２", 2)); // full-width digits are not digits
    // Fewer bytes than asked for: the missing ones are no digits.
    EXPECT_FALSE(isAllDigits("12", 4));
    EXPECT_FALSE(isAllDigits(std::string_view("12\0"
                                              "4",
                                              4),
                             4));
}
