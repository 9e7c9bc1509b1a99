select distinct top 5 Category
from actions
order by Category