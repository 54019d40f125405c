-- The same application a week earlier, for litrank --diff (see README.md).
select o.order_id, o.status from orders o where o.customer_id = 1042;
select o.order_id, o.status from orders o where o.customer_id = 5;
insert into order_items (order_id, line_no, product_id, qty) values (49001, 1, 'P-100', 2);
update orders set status = 'SHIPPED', shipped_on = '07-MAR-2026' where order_id = 49001;
update orders set status = 'SHIPPED', shipped_on = '07-MAR-2026' where order_id = 49002;
update orders set status = 'SHIPPED', shipped_on = '08-MAR-2026' where order_id = 49003;
update orders set status = 'SHIPPED', shipped_on = '08-MAR-2026' where order_id = 49004;
select count(*) from customers where last_name like 'Smith%';
select * from legacy_orders where order_id = 40001;
select * from legacy_orders where order_id = 40002;
select * from products where product_id in ('P-100', 'P-205');
delete from carts where session_id = :sid and created < sysdate - 1;
select sum(qty * price) from order_items where order_id = 49001;
select sum(qty * price) from order_items where order_id = 49002;
commit;
select sysdate from dual;
