#include "base/NumberText.h"

#include <gtest/gtest.h>

using namespace tarvo;

TEST(NumericEntryCheck, AcceptsSignedIntegersWithinRange) {
    EXPECT_TRUE(isValidNumber("15", 1, 100));
    EXPECT_TRUE(isValidNumber("-5", -10, 0));
    EXPECT_TRUE(isValidNumber("+100", 0, 100));
    EXPECT_TRUE(isValidNumber("0", 0, 99999));
}

TEST(NumericEntryCheck, RejectsMalformedOrOutOfRangeTexts) {
    EXPECT_FALSE(isValidNumber("1-2", -100, 100));
    EXPECT_FALSE(isValidNumber("", 0, 100));
    EXPECT_FALSE(isValidNumber("12a", 0, 100));
    EXPECT_FALSE(isValidNumber("101", 0, 100));
    EXPECT_FALSE(isValidNumber("+", -100, 100));
    EXPECT_FALSE(isValidNumber("-", -100, 100));
    EXPECT_FALSE(isValidNumber("1.5", 0, 100));
    EXPECT_FALSE(isValidNumber(" 5", 0, 100));
    EXPECT_FALSE(isValidNumber(QString::fromUtf8("\u0665"), 0, 100)); // Arabic-Indic digit five
}

TEST(ParseDecimal, ReadsWholeTextOnly) {
    EXPECT_DOUBLE_EQ(*parseDecimal(QByteArray("+123.4")), 123.4);
    EXPECT_DOUBLE_EQ(*parseDecimal(QByteArray("-0.50")), -0.5);
    EXPECT_DOUBLE_EQ(*parseDecimal(QByteArray("00150")), 150);
    EXPECT_DOUBLE_EQ(*parseDecimal(QByteArray(".5")), 0.5);
    EXPECT_FALSE(parseDecimal(QByteArray("")));
    EXPECT_FALSE(parseDecimal(QByteArray("+")));
    EXPECT_FALSE(parseDecimal(QByteArray("1.2.3")));
    EXPECT_FALSE(parseDecimal(QByteArray("ooooooo")));
    EXPECT_FALSE(parseDecimal(QByteArray("12 ")));
}

TEST(ParseTypedNumber, TakesADecimalPointOrADecimalCommaAndNothingAmbiguous) {
    EXPECT_DOUBLE_EQ(*parseTypedNumber("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(*parseTypedNumber("0,5"), 0.5);
    EXPECT_DOUBLE_EQ(*parseTypedNumber("-2,25"), -2.25);
    EXPECT_DOUBLE_EQ(*parseTypedNumber("12"), 12);
    EXPECT_FALSE(parseTypedNumber(""));
    EXPECT_FALSE(parseTypedNumber("1,000.5")); // a thousands separator: which one is meant is unclear
    EXPECT_FALSE(parseTypedNumber("1,2,3"));
    EXPECT_FALSE(parseTypedNumber("abc"));
}

TEST(ParseInteger, RejectsNonDigitsAndOverlongTexts) {
    EXPECT_EQ(*parseInteger("4114"), 4114);
    EXPECT_EQ(*parseInteger("-0012"), -12);
    EXPECT_FALSE(parseInteger("41a4"));
    EXPECT_FALSE(parseInteger(""));
    EXPECT_FALSE(parseInteger("-"));
    EXPECT_FALSE(parseInteger("1234567890123456789012"));
}

TEST(DeleteFirst, RemovesOnlyTheFirstOccurrence) {
    QByteArray text("G+12.3G\r");
    EXPECT_TRUE(deleteFirst(text, "G"));
    EXPECT_EQ(text, QByteArray("+12.3G\r"));
    EXPECT_FALSE(deleteFirst(text, "N"));
    EXPECT_EQ(text, QByteArray("+12.3G\r"));
}
