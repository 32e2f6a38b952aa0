#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <type_traits>

#include <lumo/exception.hpp>

TEST(Exception, Texts) {
    EXPECT_STREQ(lumo::exception().what(), "An LUMO exception occured!");
    EXPECT_STREQ(lumo::ecomp().what(), "Illegal computation");
}

TEST(Exception, WhatIsVirtualThroughBothBases) {
    try {
        throw lumo::ecomp();
    } catch (const lumo::exception& e) {
        EXPECT_STREQ(e.what(), "Illegal computation");
    }
    try {
        throw lumo::ecomp();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Illegal computation");
    }
    static_assert(std::is_base_of_v<std::exception, lumo::exception>);
    static_assert(std::is_base_of_v<lumo::exception, lumo::ecomp>);
    static_assert(std::has_virtual_destructor_v<lumo::exception>);
}

TEST(Exception, CopiesKeepTheirText) {
    const lumo::ecomp original;
    const lumo::ecomp copy = original;
    EXPECT_EQ(std::strcmp(copy.what(), original.what()), 0);
    EXPECT_EQ(copy.what(), original.what());  // the same static text
}
