#!/usr/bin/env python3
"""Writes the bad-input sweep's case table from the public header.

Every function the header declares (plain twins included) gets one case with ordinary
arguments, then one case per parameter and per hostile value of that parameter's type, the
other parameters staying ordinary. The table is C++ for bad_input_sweep.cpp to include:

    SW_CASE("qor_string_new", "n=INT64_MIN", 0, (void)qor_string_new(sw_cstr(), INT64_MIN))

Usage: gen_cases.py HEADER OUTPUT
"""
import re
import sys

# Type -> (ordinary value, [(label, hostile value), ...]). Ordinary values are helpers of
# bad_input_sweep.cpp that make a live object of the type.
STRING_BAD = [("NULL", "nullptr"), ("missing", "sw_missing()"), ("empty", "sw_empty()"),
              ("NULs", "sw_nuls()"), ("negative-len", "sw_negative_len()"),
              ("1MiB", "sw_big()")]
CSTR_BAD = [("NULL", "nullptr"), ("empty", "\"\""), ("5000-bytes", "sw_long_cstr()")]
I64_BAD = [("0", "0"), ("-1", "-1"), ("INT64_MIN", "INT64_MIN"), ("INT64_MAX", "INT64_MAX"),
           ("2^40", "(int64_t{1} << 40)"), ("closed-fd", "sw_closed_fd()")]
I32_BAD = [("0", "0"), ("-1", "-1"), ("INT32_MIN", "INT32_MIN"), ("INT32_MAX", "INT32_MAX")]
U64_BAD = [("0", "0"), ("UINT64_MAX", "UINT64_MAX"), ("2^40", "(uint64_t{1} << 40)")]
F64_BAD = [("NaN", "NAN"), ("inf", "INFINITY"), ("-inf", "-INFINITY"), ("-0", "-0.0"),
           ("1e308", "1e308")]
NULL_ONLY = [("NULL", "nullptr")]

TYPES = {
    "int64_t": ("1", I64_BAD),
    "int32_t": ("1", I32_BAD),
    "int": ("1", I32_BAD),
    "uint64_t": ("8", U64_BAD),
    "double": ("2.5", F64_BAD),
    "QorString*": ("sw_string()", STRING_BAD),
    "const QorString*": ("sw_string()", STRING_BAD),
    "const char*": ("sw_cstr()", CSTR_BAD),
    "char**": ("sw_argv()", NULL_ONLY),
    "QorVec*": ("sw_vec()", NULL_ONLY + [("empty", "qor_vec_new()")]),
    "const QorVec*": ("sw_vec()", NULL_ONLY + [("empty", "qor_vec_new()")]),
    "int64_t*": ("sw_slots()", NULL_ONLY),
    "const int64_t*": ("sw_slots()", NULL_ONLY),
    "void*": ("sw_buffer()", NULL_ONLY),
    "const void*": ("sw_buffer()", NULL_ONLY),
    "QorArray*": ("sw_array()", NULL_ONLY),
    "const QorArray*": ("sw_array()", NULL_ONLY),
    "QorStringBuilder*": ("sw_builder()", NULL_ONLY),
    "const QorStringBuilder*": ("sw_builder()", NULL_ONLY),
    "QorIntMap*": ("sw_int_map()", NULL_ONLY),
    "const QorIntMap*": ("sw_int_map()", NULL_ONLY),
    "QorStrHashMap*": ("sw_str_hash_map()", NULL_ONLY),
    "const QorStrHashMap*": ("sw_str_hash_map()", NULL_ONLY),
    "const struct QorStrHashMap*": ("sw_str_hash_map()", NULL_ONLY),
    "QorStrMap*": ("sw_str_map()", NULL_ONLY),
    "const QorStrMap*": ("sw_str_map()", NULL_ONLY),
    "QorChannelHandle*": ("sw_channel()", NULL_ONLY),
    "QorChannelHandle**": ("sw_handle_slot()", NULL_ONLY),
    "QorThread*": ("sw_thread()", NULL_ONLY),
    "QorMutex*": ("sw_mutex()", NULL_ONLY),
    "QorRwLock*": ("sw_rwlock()", NULL_ONLY),
    "QorArc*": ("sw_arc()", NULL_ONLY),
    "QorBarrier*": ("sw_barrier()", NULL_ONLY),
    "QorCondvar*": ("sw_condvar()", NULL_ONLY),
    "QorThreadPool*": ("sw_pool()", NULL_ONLY),
    "QorScope*": ("sw_scope()", NULL_ONLY),
    "QorTask*": ("sw_task()", NULL_ONLY),
    "const QorTask*": ("sw_task()", NULL_ONLY),
    "QorExecutor*": ("sw_executor()", NULL_ONLY),
    "const QorExecutor*": ("sw_executor()", NULL_ONLY),
    "QorEventLoop*": ("sw_loop()", NULL_ONLY),
    "const QorEventLoop*": ("sw_loop()", NULL_ONLY),
    "QorAsyncFile*": ("sw_async_file()", NULL_ONLY + [("closed", "sw_closed_async_file()")]),
    "QorSocket*": ("sw_socket()", NULL_ONLY + [("closed", "sw_closed_socket()")]),
    "const QorSocket*": ("sw_socket()", NULL_ONLY + [("closed", "sw_closed_socket()")]),
    "QorUdpPacket*": ("sw_packet()", NULL_ONLY),
    "const QorUdpPacket*": ("sw_packet()", NULL_ONLY),
    "QorThreadFn": ("sw_thread_fn", NULL_ONLY),
    "QorTaskFn": ("sw_task_fn", NULL_ONLY),
    "QorEventCallback": ("sw_event_fn", NULL_ONLY),
}

# Ordinary values chosen by parameter name, or by function and parameter, where the type
# alone would pick a poor one.
BY_NAME = {
    ("const char*", "host"): "\"127.0.0.1\"",
}
BY_FUNCTION = {
    ("qor_string_join", "v"): "sw_string_vec()",
}

# Functions never swept: the frame opener returns twice, so a case that returns from the
# lambda would leave a dead recovery point behind.
SKIP = {"qor_ffi_begin"}


def parse(header):
    text = re.sub(r"/\*.*?\*/", "", open(header).read(), flags=re.S)
    for ret, name, args in re.findall(r"QOR_API\s+([^;{(]*?)\b(\w+)\s*\(([^)]*)\)\s*;", text):
        params = []
        for a in args.split(","):
            a = " ".join(a.split())
            if a in ("void", ""):
                continue
            m = re.match(r"(.*?)\s*(\w+)$", a)
            params.append((m.group(1).replace(" *", "*"), m.group(2)))
        yield name, ret.replace("QOR_NORETURN", "").strip(), params


def main():
    header, output = sys.argv[1], sys.argv[2]
    lines = []
    for name, ret, params in parse(header):
        if name in SKIP:
            continue
        for t, _ in params:
            if t not in TYPES:
                sys.exit(f"gen_cases.py: no values for parameter type '{t}' of {name}")
        ordinary = [BY_FUNCTION.get((name, p), BY_NAME.get((t, p), TYPES[t][0]))
                    for t, p in params]
        cases = [("ordinary", ordinary)]
        for i, (t, p) in enumerate(params):
            for label, value in TYPES[t][1]:
                args = list(ordinary)
                args[i] = f"static_cast<{t}>({value})" if value == "nullptr" else value
                cases.append((f"{p}={label}", args))
        for what, args in cases:
            call = f"{name}({', '.join(args)})"
            lines.append(f'SW_CASE("{name}", "{what}", (void){call})')
    with open(output, "w") as out:
        out.write("// Generated by gen_cases.py from the public header; do not edit.\n")
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
