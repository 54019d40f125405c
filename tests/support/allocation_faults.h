// Allocation failures on request, for tests, fuzz targets and the
// allocation-failure test build of litsieve: they swap the allocation
// entries of `sys` (platform/system_calls.h), so nothing is wrapped at link
// time and the programs under test are the shipped code.
#pragma once

// From now on the n-th allocation (sys.realloc or sys.calloc), counted from
// this call, fails, and every later one too, as an exhausted heap would;
// n = 0 counts without failing. The entries that sys held are called for
// the allocations that go through.
void fail_allocations_from(long n);

// Allocations counted since fail_allocations_from.
long allocations_counted();

// Puts back the entries fail_allocations_from replaced.
void stop_failing_allocations();
