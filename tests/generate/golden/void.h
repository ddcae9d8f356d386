#ifndef __VOID__
#define __VOID__
// id=2

#pragma pack(push, 1)

#pragma pack(pop)

#endif //__VOID__
