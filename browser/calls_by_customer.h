#pragma once

#include "call_table.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

// The rows of the call table that belong to each customer, in table order.
class CallsByCustomer
{
public:
    void rebuild(const TCallTable& calls)
    {
        m_rows.clear();
        for (std::int32_t row = 0; row < calls.CallCount(); ++row)
            m_rows[calls.CallCustomerID(row)].push_back(row);
    }

    const std::vector<std::int32_t>& rows(std::int32_t customerId) const
    {
        static const std::vector<std::int32_t> none;
        const auto it = m_rows.find(customerId);
        return it == m_rows.end() ? none : it->second;
    }

private:
    std::unordered_map<std::int32_t, std::vector<std::int32_t>> m_rows;
};
