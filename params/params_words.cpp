// The parameter words by name: the protocol core's table.
#include "params/vars.h"
#include "proto/proto.h"

const char *ParamWordName(int i) { return proto::ParamWordName(i, softversion); }
