// Field output statistics: per-value statistics (sets) and bulk data
// statistics (whole model). The dispatcher above them is in field/dispatch.h.
#pragma once

#include <fstream>

#include "odb/odb.h"

void odbE_printFieldValueCon(const odb_SequenceFieldValue& values, std::ostream& out, odb_String stepName,
                             int incrementNumber, odb_String regionKind, odb_String regionName,
                             odb_String fieldName, const odb_SequenceInvariant& invariants,
                             odb_SequenceString& componentLabels, odb_Enum::odb_DataTypeEnum type,
                             odb_String indent, bool isComplex);
double odbE_getTensorValue(const odb_FieldValue& value, int selector);
double odbE_printFieldValue(const odb_FieldValue& value, std::ostream& out, const odb_SequenceInvariant& invariants,
                            const bool componentMarks[6], const odb_String& indent, bool isComplex);

void odbE_printFieldBulkDataCon(const odb_SequenceFieldBulkData& blocks, std::ostream& out, odb_String stepName,
                                int incrementNumber, odb_String regionKind, odb_String regionName,
                                odb_String fieldName, const odb_SequenceInvariant& invariants, odb_String indent,
                                bool isComplex);
void odbE_printBulkField(const odb_FieldBulkData& block, std::ostream& out, odb_String stepName,
                         int incrementNumber, odb_String fieldName, const odb_SequenceInvariant& invariants,
                         odb_String indent, bool isComplex);
