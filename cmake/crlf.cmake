# cmake -DINPUT=file -DOUTPUT=file -P crlf.cmake
# Copies a text file with every line ended by CR LF (lines already ended so
# are left as they are). The bytes are copied as they are, whatever their
# encoding.
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
