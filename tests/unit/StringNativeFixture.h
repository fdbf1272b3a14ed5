// Drives the String native group in-process: operands are pushed above a
// sentinel word, the group is called as the interpreter calls it, and the
// words left above the sentinel are the call's results. Under GC stress a
// full collection with the stack follows every call, as in the interpreter,
// so results must be reachable from the stack or their box.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TestSupport.h"

#include "ObjectModel.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

struct StringNativeFixture : ::testing::Test {
    using Words = std::vector<vm::Word>;
    using Pair = std::pair<int, std::string>;
    static constexpr vm::Word kSentinel = 0x5EED;
    static constexpr int kStringGroup = 8;

    vm::VirtualMachine vm;

    void SetUp() override
    {
        vm.pc = 77;
        vm.push(kSentinel);
    }
    void TearDown() override { EXPECT_EQ(vm.stack()[0], kSentinel); }

    // A new string value holding text, kept alive for the whole test (or,
    // unrooted, only while it is on the stack).
    vm::Word str(std::u16string_view text, bool rooted = true)
    {
        vm::Addr box = vm::newStringObject(vm.heap(), OString(text));
        if (rooted)
            vm.heap().addRoot(box);
        return vm::Word(box);
    }
    // An empty box (kept alive) to receive a new string.
    vm::Word box()
    {
        vm::Addr b = vm::newBox(vm.heap(), 0);
        vm.heap().addRoot(b);
        return vm::Word(b);
    }
    OString& object(vm::Word reference) { return vm::stringOf(vm.heap(), vm::Addr(reference)); }
    std::u16string text(vm::Word reference) { return object(reference).toU16(); }
    // The text of the string a box received.
    std::u16string boxed(vm::Word aBox)
    {
        return vm::objectOf<OString>(vm.heap(), vm::Addr(vm.space().loadWord(vm::Addr(aBox)))).toU16();
    }

    // Runs code on the operands (bottom first); returns the words left above
    // the sentinel.
    Words call(int code, const Words& operands)
    {
        vm.top = 0;
        for (vm::Word w : operands)
            vm.push(w);
        vm.callNative(kStringGroup, int8_t(uint8_t(code)));
        if (vm.gcStress())
            vm.collectWithStack();
        if (vm.top < 0) {  // the call took words below its operands
            ADD_FAILURE() << "code " << code << " left the top at " << vm.top;
            vm.top = 0;
            return {};
        }
        return Words(vm.stack() + 1, vm.stack() + vm.top + 1);
    }
    // The text of the one new string that code leaves.
    std::u16string newText(int code, const Words& operands)
    {
        Words r = call(code, operands);
        if (r.size() != 1) {
            ADD_FAILURE() << "code " << code << " left " << r.size() << " words";
            return u"<none>";
        }
        return text(r[0]);
    }
    // The error that code raises on the operands ({0, ""} for none).
    Pair error(int code, const Words& operands)
    {
        Pair r = errorOf([&] { call(code, operands); });
        vm.top = 0;
        return r;
    }
    int errorCodeOf(int code, const Words& operands) { return error(code, operands).first; }
};
