#pragma once

// The protocol-buffer runtime under one short name, for every SDK part that reads or writes
// wire messages beyond the generated accessors (coded streams, varints).
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message_lite.h>

namespace pb = ::google::protobuf;
