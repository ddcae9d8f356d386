#ifndef __BROKEN__
#define __BROKEN__
// id=9

#pragma pack(push, 1)

//--- size of structure = 4
typedef struct
{
   int a;
} GOOD;

//--- size of structure = 9
typedef struct
{
   char first;
   int second;
