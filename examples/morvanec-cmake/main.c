#include <stdio.h>

#include "Schema_Enum.h"
#include "posrec.h"

int main(void) {
    POSREC record = {0};
    record.count = 5;
    printf("schema %d, record of %zu bytes\n", E_SCHEMA_ENUM_POSREC, sizeof record);
    return 0;
}
