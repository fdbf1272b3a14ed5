// A VM on a test host for calling natives directly on the operand stack.
// Slot 0 holds a sentinel that every call must leave alone. With GC stress
// on (MCB_GC_STRESS=1) every call is followed by a full collection, as the
// interpreter does after a native, so a result or operand that the native
// left unrooted is freed and the test sees it. Objects the test keeps in C++
// variables are made roots (`keep`).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "ObjectModel.h"
#include "StringObjects.h"
#include "FileTestHost.h"
#include "TestSupport.h"
#include "VirtualMachine.h"

struct VmNativeFixture : ::testing::Test {
    using Pair = std::pair<int, std::string>;
    static constexpr vm::Word kSentinel = 0x5EED;

    FileTestHost host;  // files in a temporary application directory
    vm::VirtualMachine vm;

    void SetUp() override
    {
        vm.setHost(&host);
        vm.pc = 77;
        vm.push(kSentinel);
    }
    void TearDown() override { EXPECT_EQ(vm.stack()[0], kSentinel); }

    vm::VMHeap& heap() { return vm.heap(); }
    void reset() { vm.top = 0; }
    vm::Word& at(int i) { return vm.stack()[i]; }
    // Pushes the operands (deepest first) onto a stack holding only the
    // sentinel.
    void operands(std::initializer_list<vm::Word> aWords)
    {
        reset();
        for (vm::Word w : aWords)
            vm.push(w);
    }
    void call(int aGroup, int aFunction)
    {
        vm.callNative(aGroup, aFunction);
        if (vm.gcStress())
            vm.collectWithStack();
    }
    // Calls with the operands; checks the stack then holds `aResults` words
    // above the sentinel and returns the top word (0 without results).
    vm::Word callWith(int aGroup, int aFunction, std::initializer_list<vm::Word> aWords, int aResults)
    {
        operands(aWords);
        call(aGroup, aFunction);
        EXPECT_EQ(vm.top, aResults) << "group " << aGroup << " function " << aFunction;
        return aResults > 0 ? vm.stack()[vm.top] : 0;
    }
    // The error a call raises; the stack must be left as it was.
    Pair errorWith(int aGroup, int aFunction, std::initializer_list<vm::Word> aWords)
    {
        operands(aWords);
        int before = vm.top;
        Pair r = errorOf([&] { call(aGroup, aFunction); });
        EXPECT_EQ(vm.top, before) << "group " << aGroup << " function " << aFunction;
        return r;
    }

    vm::Word keep(vm::Addr aBlock)
    {
        heap().addRoot(aBlock);
        return vm::Word(aBlock);
    }
    // A new one-word cell (kept alive), as bytecode makes for a target.
    vm::Word cell(vm::Word aValue = 0) { return keep(vm::newBox(heap(), aValue)); }
    vm::Word string(const char* aUtf8)
    {
        return keep(vm::newStringObject(heap(), OString::fromUtf8(aUtf8, int(std::strlen(aUtf8)))));
    }
    std::string text(vm::Word aString) { return vm::stringOf(heap(), vm::Addr(aString)).toUtf8(); }
    vm::Word load(vm::Word aAddress, int aIndex = 0)
    {
        return vm.space().loadWord(vm::Addr(aAddress) + 4u * uint32_t(aIndex));
    }
};
