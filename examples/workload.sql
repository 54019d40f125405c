-- A small captured workload: an order-entry application at work.
-- Pack it with litpack and sieve it with litsieve (see README.md).
select o.order_id, o.status from orders o where o.customer_id = 1042;
SELECT ORDER_ID, STATUS FROM ORDERS WHERE CUSTOMER_ID = 77;
select o.order_id, o.status from orders o where o.customer_id = 311;
select o.order_id, o.status
  from orders o
 where o.customer_id = 9;
insert into order_items (order_id, line_no, product_id, qty) values (50001, 1, 'P-100', 2);
insert into order_items (order_id, line_no, product_id, qty) values (50001, 2, 'P-205', 1);
insert into order_items (order_id, line_no, product_id, qty) values (50002, 1, 'P-100', 12);
update orders set status = 'SHIPPED', shipped_on = '14-MAR-2026' where order_id = 50001;
update orders set status = 'SHIPPED', shipped_on = '15-MAR-2026 09:30:00' where order_id = 49987;
update orders set status = 'CANCELLED', shipped_on = NULL where order_id = 49990;
select count(*) from customers where last_name like 'O''Brien%';
select count(*) from customers where last_name like 'Smith%';
select \* index(c cust_name_ix) *\ c.customer_id from customers c where c.last_name = 'Jones';
select c.customer_id from customers c where c.last_name = 'Jones';
select * from products where product_id in ('P-100', 'P-205');
select * from products where product_id in ('P-100', 'P-205', 'P-311');
select * from products where product_id in ('P-999', 'P-001');
delete from carts where session_id = :sid and created < sysdate - 1;
delete from carts where session_id = :sid and created < sysdate - 7;
select sum(qty * price) from order_items where order_id = 50001;
commit;
commit;
select sysdate from dual;
